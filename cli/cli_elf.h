// The one door through which quarnel-cli opens an ELF path, for a search, for many files and
// for --checksum: a loose ELF file is mapped read-only, not copied, and checked as an ELF image;
// a disc image's boot executable is read into memory and checked the same way.
#pragma once

#include <string>

#include "core/elf_image.h"
#include "core/file_map.h"

struct CliElf {
    FileMap map;
    ElfImage image;     // over map's bytes; its checksum is not computed (elf_image_checksum)
    std::string name;   // the name to show in messages and //File: lines
    uint8_t* owned;     // a disc image's boot executable (malloc'd), else null: image is over it
    std::string boot;   // in an image: the boot executable's base name ("SLUS_203.12"), else ""
    std::string serial; // "SLUS-20312" when the image or the file name tells it, else ""
};

// Opens the ELF file at `path`. Reentrant: threads may open different files at once.
//   elf:     filled on success; release with cli_elf_close (also after a failure).
//   problem: on failure, the whole message line ("quarnel-cli: PATH: Invalid ELF file
//            (REASON)", or "quarnel-cli: Game.iso: Invalid disc image (REASON)").
// Returns 1, or 0 on failure.
int cli_elf_open(const char* path, CliElf* elf, std::string* problem);

// True when the file changed under the mapping (it was truncated): results read from it must
// be thrown away and "Error reading file" reported instead.
bool cli_elf_damaged(const CliElf* elf);

// The message line for a file that was damaged during its search.
std::string cli_elf_damage_text(const CliElf* elf);

// The name of the executable itself: the boot executable's for an image, else the path's base.
std::string cli_elf_executable_name(const CliElf* elf);

// Releases the image and unmaps the file.
void cli_elf_close(CliElf* elf);
