// A search's patch lines as a whole PNACH file, and the name emulators look for it under.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/pattern.h"

// The serial in an executable's file name: "SLUS_203.12" (any folder before it, letters in
// either case) gives "SLUS-20312". "" when the name holds none.
std::string pnach_serial_from_name(const char* path);

// The serial of the executable a disc boots, from its SYSTEM.CNF text (`size` bytes):
// "BOOT2 = cdrom0:\SLUS_203.12;1" gives "SLUS-20312". "" when there is none.
std::string pnach_serial_from_system_cnf(const char* text, size_t size);

// "SLUS-20312_1A2B3C4D.pnach", or "1A2B3C4D.pnach" when the serial is "".
std::string pnach_file_name(const std::string& serial, uint32_t checksum);

// Renders a search's matches as a PNACH file: "gametitle=TITLE (CHECKSUM)", then for each
// search pattern a [section] named after it holding the patch=1 lines of its matches, made
// as the PNACH result format makes them. Lines end in CR LF.
//   search, replace: as for result_render (replace[i] belongs to search[i], lengths multiples
//                    of four); matches: the scan's list; swap: "Little".
//   title: the executable's name.
void pnach_file_render(const PatternList* search, const PatternList* replace, const Match* matches,
                       const ElfImage* image, bool swap, const char* title, std::string* text);
