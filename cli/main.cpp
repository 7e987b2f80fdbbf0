// quarnel-cli: Quarnel's search without a window, for scripts.
#include <cstdio>

#include "cli/cli_options.h"
#include "cli/cli_port.h"
#include "cli/cli_report.h"
#include "cli/cli_run.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#ifndef QUARNEL_VERSION
#define QUARNEL_VERSION "unknown"
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // The result must leave byte for byte (CR LF stays CR LF), and patterns read from standard
    // input must arrive untranslated.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    cli_report_install();
    if (cli_port_wanted(argc, argv)) {
        return cli_port_main(argc, argv);
    }

    CliOptions options;
    char problem[512];
    if (!cli_options_parse(argc, argv, &options, problem, sizeof problem)) {
        std::fprintf(stderr, "%s\n%s", problem, CLI_USAGE);
        return CLI_EXIT_FAILURE;
    }
    switch (options.mode) {
    case CLI_MODE_HELP:
        std::fputs(CLI_USAGE, stdout);
        std::fputs("\n", stdout);
        std::fputs(CLI_HELP, stdout);
        return std::fflush(stdout) == 0 ? 0 : CLI_EXIT_FAILURE;
    case CLI_MODE_VERSION:
        std::fputs("quarnel-cli " QUARNEL_VERSION "\n", stdout);
        return std::fflush(stdout) == 0 ? 0 : CLI_EXIT_FAILURE;
    case CLI_MODE_CHECKSUM:
        return cli_run_checksum(options.elf_path);
    case CLI_MODE_BOOT:
        return cli_run_boot(options.elf_path);
    case CLI_MODE_EXTRACT:
        return cli_run_extract(options.elf_paths[0], options.elf_paths[1]);
    case CLI_MODE_SEARCH:
        break;
    }
    return cli_run_search(&options);
}
