// Finding and showing the help text, readme.txt.
#pragma once

#include <cstdint>

// Remembers the program's own path (argv[0]) so that readme.txt can be found next to it.
// Null or an empty text forgets it.
void help_set_program_path(const char* argv0);

// Replaces the installed data folder that Help looks in last: null restores the build's choice,
// "" leaves the folder out. For relocated installations and for tests.
void help_set_data_folder(const char* folder);

// Where Help looks for readme.txt, in order: the current directory, the program's folder,
// share/quarnel beside the program's folder (an installation under any prefix), the installed
// data folder that the build names. Writes up to `max` paths into `out` and
// returns how many. Each path is cut to 4095 characters.
uint32_t help_candidates(char (*out)[4096], uint32_t max);

// Shows the first readme.txt that opens in the toolkit's text pop-up, or says "Unable to open
// readme.txt".
void help_show();
