// quarnel-cli's patch subcommands: `port` carries a patch file from one build of a game to
// another, `apply` writes a patch file's plain writes into a copy of an executable.
#pragma once

// Runs `quarnel-cli port ...` or `quarnel-cli apply ...`; argv[1] names the subcommand.
// Returns the exit status: 0 every line ported or applied, 1 some not, 2 an error (a message
// on standard error).
int cli_port_main(int argc, char** argv);

// True when argv[1] names one of these subcommands.
bool cli_port_wanted(int argc, char** argv);

// The --help texts of the two subcommands.
extern const char* const CLI_PORT_HELP;
extern const char* const CLI_APPLY_HELP;
