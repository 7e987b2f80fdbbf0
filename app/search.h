// The search command behind the Search button, run on a thread of its own.
#pragma once

// Runs one search from the pattern boxes and option buttons to the result box. Every way out
// releases what the run holds and leaves Search usable again. Result: 0, always.
int search();

// Starts a search on a new, detached thread, unless one is running. Disables Search first, so
// that a second click can never start a second scan. Call on the GUI thread.
void search_start();

// True from search_start until the run has released everything and no longer reads the loaded
// image. While it holds, the image must be neither released nor replaced.
bool search_is_running();
