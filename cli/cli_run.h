// The two things quarnel-cli does: a search, and the checksum of an ELF file.
#pragma once

#include "cli/cli_options.h"

enum CliExit : int {
    CLI_EXIT_FOUND = 0,   // the search ran and found at least one match
    CLI_EXIT_NONE = 1,    // the search ran and found nothing
    CLI_EXIT_FAILURE = 2, // anything else; one message on standard error
};

// Runs the search that `options` describe and writes the result text, exactly as the result
// box would hold it, to standard output or the output file. Nothing is written there unless
// every step succeeded. The checks come in the window's order: the ELF file, the pattern
// files, the search patterns, then the replace patterns of PNACH and RAW Code.
// Returns the exit status.
CliExit cli_run_search(const CliOptions* options);

// Prints the checksum of the ELF file as eight hexadecimal digits and a line feed.
// Returns CLI_EXIT_FOUND, or CLI_EXIT_FAILURE after "Invalid ELF file".
CliExit cli_run_checksum(const char* elf_path);

// --boot: prints the boot executable of the disc image at `image_path` as one line
// "PATH_IN_IMAGE<TAB>SIZE<TAB>CHECKSUM" (size in decimal bytes, checksum as eight upper-case
// hexadecimal digits). Returns CLI_EXIT_FOUND, or CLI_EXIT_FAILURE after one message.
CliExit cli_run_boot(const char* image_path);

// --extract: writes the boot executable of the disc image at `image_path` to `out_path` in one
// step (a failure leaves an existing file as it was). Returns CLI_EXIT_FOUND, or
// CLI_EXIT_FAILURE after one message.
CliExit cli_run_extract(const char* image_path, const char* out_path);
