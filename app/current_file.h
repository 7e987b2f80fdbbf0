// The executable that the window works on: the loaded image and the name of its file. It is a
// loose ELF file or the boot executable read out of a disc image (core/executable_file.h).
#pragma once

#include "core/elf_image.h"

// The current image, null while no file is loaded. Changed only on the GUI thread, and never
// while a search runs (loading is refused then).
extern ElfImage* loaded_image;

// Base name of the last executable loaded successfully (cut to 259 characters); empty at start.
// For a disc image it is the boot executable's ("SLUS_203.12"), as if it had been extracted, so
// that Save proposes the same names either way.
extern char loaded_file_name[260];

// The characters that separate folders in a path on this system ("/" on POSIX systems, "\\/"
// on Windows), given by the build.
extern const char path_separators[];

// The part of `path` after its last separator, or the whole path when it has none.
const char* path_base_name(const char* path);

// Makes the file at `path` the current ELF file: drops the current image, reads the new one (a
// loose file, or the boot executable of a disc image) and shows its name: the base name, or
// "SLUS_203.12 in Game.iso" for an image. A file that fails says "Invalid ELF file", a refused
// disc image its own reason ("Invalid disc image (...)"), and the name label is emptied. No
// result; the outcome is loaded_image.
void load_elf(const char* path);

// Releases the current image, if any (the window is closing).
void current_file_release();
