#include "cli/cli_run.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/cli_input.h"
#include "cli/cli_report.h"
#include "core/elf_image.h"
#include "core/file_io.h"
#include "core/match.h"
#include "core/pattern.h"
#include "core/result_format.h"
#include "core/search_rules.h"

namespace {

// Everything one search holds, released on every way out.
struct SearchRun {
    ElfImage* image;
    char* search_text;
    char* replace_text;
    PatternList search;
    PatternList replace;
    Match* matches;
    ResultBuffer result;
    bool result_ready;
};

void search_run_free(SearchRun* run) {
    std::free(run->search_text);
    std::free(run->replace_text);
    run->search_text = nullptr;
    run->replace_text = nullptr;
    pattern_list_free(&run->search);
    pattern_list_free(&run->replace);
    free_matches(run->matches);
    run->matches = nullptr;
    if (run->result_ready) {
        result_buffer_free(&run->result);
        run->result_ready = false;
    }
    free_elf_image(run->image);
    run->image = nullptr;
}

// Writes the whole text to standard output. Returns 1, or 0 after "Error writing file".
int stdout_write(const char* text, uint32_t length) {
    if (std::fwrite(text, 1, length, stdout) != length || std::fflush(stdout) != 0) {
        cli_report_message("Error writing file");
        return 0;
    }
    return 1;
}

bool format_patches(ResultFormat format) {
    return format == FORMAT_PNACH || format == FORMAT_RAW_CODE;
}

// The steps of a search up to the written result; the caller releases `run`.
CliExit search_steps(const CliOptions* options, SearchRun* run) {
    run->image = read_elf(options->elf_path);
    if (!run->image) {
        cli_report_message(MSG_INVALID_ELF);
        return CLI_EXIT_FAILURE;
    }

    // Both files are read before either is parsed: an unreadable file comes before any
    // complaint about what a readable one holds.
    run->search_text = cli_input_read(options->search_path);
    if (!run->search_text) {
        return CLI_EXIT_FAILURE;
    }
    if (options->replace_path) {
        run->replace_text = cli_input_read(options->replace_path);
        if (!run->replace_text) {
            return CLI_EXIT_FAILURE;
        }
    }

    unsigned reports = cli_report_count();
    if (!pattern_list_parse(run->search_text, &run->search)) {
        // The parser has already reported when it ran out of memory.
        if (cli_report_count() == reports) {
            cli_report_message(MSG_NO_SEARCH_PATTERNS);
        }
        return CLI_EXIT_FAILURE;
    }
    if (run->replace_text && !pattern_list_parse(run->replace_text, &run->replace) &&
        cli_report_count() != reports) {
        return CLI_EXIT_FAILURE;
    }
    std::free(run->search_text);
    std::free(run->replace_text);
    run->search_text = nullptr;
    run->replace_text = nullptr;

    uint32_t step = options->step;
    if (format_patches(options->format)) {
        const PatternList* replace = run->replace.count ? &run->replace : nullptr;
        const char* refusal = search_check_patch_patterns(options->format, &run->search, replace);
        if (refusal) {
            cli_report_first_line(refusal);
            return CLI_EXIT_FAILURE;
        }
        // Patch lines are made of whole words: the window switches to Word as well.
        step = 4;
    }

    MatchList* list = find_matches(run->image, options->executable, options->swap, step,
                                   run->search.count, run->search.values, run->search.masks);
    if (!list) {
        cli_report_message("Error processing ELF file");
        return CLI_EXIT_FAILURE;
    }
    run->matches = list->head;
    list->head = nullptr;
    list->tail = &list->head;

    if (!result_buffer_init(&run->result)) {
        cli_report_message("Error allocating memory");
        return CLI_EXIT_FAILURE;
    }
    run->result_ready = true;
    reports = cli_report_count();
    if (!result_render(&run->result, &run->search, &run->replace, run->matches, run->image,
                       options->swap, options->format)) {
        if (cli_report_count() == reports) {
            cli_report_message("Error allocating memory");
        }
        return CLI_EXIT_FAILURE;
    }

    if (options->output_path && std::strcmp(options->output_path, "-") != 0) {
        // save_file reports "Error opening file" or "Error writing file" itself.
        if (!save_file(options->output_path, run->result.text)) {
            return CLI_EXIT_FAILURE;
        }
    } else if (!stdout_write(run->result.text, run->result.length)) {
        return CLI_EXIT_FAILURE;
    }
    return run->matches ? CLI_EXIT_FOUND : CLI_EXIT_NONE;
}

} // namespace

CliExit cli_run_search(const CliOptions* options) {
    SearchRun run{};
    CliExit status = search_steps(options, &run);
    search_run_free(&run);
    return status;
}

CliExit cli_run_checksum(const char* elf_path) {
    ElfImage* image = read_elf(elf_path);
    if (!image) {
        cli_report_message(MSG_INVALID_ELF);
        return CLI_EXIT_FAILURE;
    }
    char line[16];
    int length = std::snprintf(line, sizeof line, "%08X\n", unsigned(image->checksum));
    free_elf_image(image);
    return stdout_write(line, uint32_t(length)) ? CLI_EXIT_FOUND : CLI_EXIT_FAILURE;
}
