// The ELF file that the window works on: the loaded image and the base name of its file.
#pragma once

#include "core/elf_image.h"

// The current image, null while no file is loaded. Changed only on the GUI thread, and never
// while a search runs (loading is refused then).
extern ElfImage* loaded_image;

// Base name of the last file loaded successfully (cut to 259 characters); empty at start.
extern char loaded_file_name[260];

// The characters that separate folders in a path on this system ("/" on POSIX systems, "\\/"
// on Windows), given by the build.
extern const char path_separators[];

// The part of `path` after its last separator, or the whole path when it has none.
const char* path_base_name(const char* path);

// Makes the file at `path` the current ELF file: drops the current image, reads the new one and
// shows its base name, or says "Invalid ELF file" and empties the name label. No result; the
// outcome is loaded_image.
void load_elf(const char* path);

// Releases the current image, if any (the window is closing).
void current_file_release();
