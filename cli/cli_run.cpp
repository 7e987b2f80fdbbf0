#include "cli/cli_run.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

#include "cli/cli_elf.h"
#include "cli/cli_input.h"
#include "cli/cli_report.h"
#include "core/executable_file.h"
#include "core/file_io.h"
#include "core/match.h"
#include "core/match_plan.h"
#include "core/pattern.h"
#include "core/pnach_file.h"
#include "core/result_format.h"
#include "core/save_name.h"
#include "core/search_rules.h"
#include "core/trace.h"

namespace {

// The patterns of a run, read, checked and planned once for every file.
struct Patterns {
    char* search_text;
    char* replace_text;
    PatternList search;
    PatternList replace;
    MatchPlan* plan;
};

void patterns_free(Patterns* patterns) {
    std::free(patterns->search_text);
    std::free(patterns->replace_text);
    patterns->search_text = nullptr;
    patterns->replace_text = nullptr;
    match_plan_free(patterns->plan);
    patterns->plan = nullptr;
    pattern_list_free(&patterns->search);
    pattern_list_free(&patterns->replace);
}

bool format_patches(ResultFormat format) {
    return format == FORMAT_PNACH || format == FORMAT_RAW_CODE;
}

// Reads, parses and checks both pattern files and plans the search. Returns 1, or 0 after
// one message.
int patterns_prepare(const CliOptions* options, Patterns* patterns) {
    // Both files are read before either is parsed: an unreadable file comes before any
    // complaint about what a readable one holds.
    patterns->search_text = cli_input_read(options->search_path);
    if (!patterns->search_text) {
        return 0;
    }
    if (options->replace_path) {
        patterns->replace_text = cli_input_read(options->replace_path);
        if (!patterns->replace_text) {
            return 0;
        }
    }
    unsigned reports = cli_report_count();
    if (!pattern_list_parse(patterns->search_text, &patterns->search)) {
        // The parser has already reported when it ran out of memory.
        if (cli_report_count() == reports) {
            cli_report_message(MSG_NO_SEARCH_PATTERNS);
        }
        return 0;
    }
    if (patterns->replace_text && !pattern_list_parse(patterns->replace_text, &patterns->replace) &&
        cli_report_count() != reports) {
        return 0;
    }
    std::free(patterns->search_text);
    std::free(patterns->replace_text);
    patterns->search_text = nullptr;
    patterns->replace_text = nullptr;

    uint32_t step = options->step;
    if (format_patches(options->format)) {
        const PatternList* replace = patterns->replace.count ? &patterns->replace : nullptr;
        const char* refusal =
            search_check_patch_patterns(options->format, &patterns->search, replace);
        if (refusal) {
            cli_report_message(refusal);
            return 0;
        }
        // Patch lines are made of whole words: the window switches to Word as well.
        step = 4;
    }
    patterns->plan = match_plan_build(options->swap, step, patterns->search.count,
                                      patterns->search.values, patterns->search.masks);
    if (!patterns->plan) {
        cli_report_message("Error allocating memory");
        return 0;
    }
    return 1;
}

// What the search of one file gave.
struct FileResult {
    CliExit status;
    ResultBuffer text; // the result text when status is not CLI_EXIT_FAILURE
    bool text_ready;
    std::string problem;    // the message line when status is CLI_EXIT_FAILURE
    uint32_t checksum;      // when it was asked for
    std::string name;       // the display name of the file
    std::string executable; // the executable's own name (the boot executable's in an image)
    std::string serial;     // the serial the image or the executable's name tells, or ""
    std::string whole;      // --pnach-file: the whole file, in place of `text`

    const char* data() const {
        return whole.empty() ? text.text : whole.data();
    }
    size_t length() const {
        return whole.empty() ? text.length : whole.size();
    }

    ~FileResult() {
        if (text_ready) {
            result_buffer_free(&text);
        }
    }
};

// Searches an open file and renders its result text into `result`.
//   tuning: the engine's threading (null for its defaults).
//   want_checksum: also compute the file's checksum.
void file_scan(const CliOptions* options, const Patterns* patterns, CliElf* elf,
               const MatchFastTuning* tuning, bool want_checksum, FileResult* result) {
    const char* path = elf->name.c_str();
    result->name = elf->name;
    result->executable = cli_elf_executable_name(elf);
    result->serial = elf->serial;
    result->status = CLI_EXIT_FAILURE;
    MatchList list{nullptr, nullptr};
    list.tail = &list.head;
    if (match_plan_find(patterns->plan, &elf->image, options->executable, &list, tuning) !=
        MATCH_FAST_DONE) {
        free_matches(list.head);
        result->problem = cli_report_file_text(path, "Error processing ELF file", nullptr);
        return;
    }
    if (!result_buffer_init(&result->text)) {
        free_matches(list.head);
        result->problem = cli_report_file_text(path, "Error allocating memory", nullptr);
        return;
    }
    result->text_ready = true;
    if (options->pnach_file) {
        elf->image.checksum = elf_image_checksum(&elf->image);
        try {
            pnach_file_render(&patterns->search, &patterns->replace, list.head, &elf->image,
                              options->swap, result->executable.c_str(), &result->whole);
        } catch (const std::bad_alloc&) {
            free_matches(list.head);
            result->problem = cli_report_file_text(path, "Error allocating memory", nullptr);
            return;
        }
    } else if (!result_render(&result->text, &patterns->search, &patterns->replace, list.head,
                              &elf->image, options->swap, options->format)) {
        // The failure has been reported through the sink already.
        free_matches(list.head);
        return;
    }
    if (want_checksum) {
        result->checksum =
            options->pnach_file ? elf->image.checksum : elf_image_checksum(&elf->image);
    }
    bool matched = list.head != nullptr;
    free_matches(list.head);
    // A file cut short under the scan read zeros where its bytes were: its text is worthless.
    if (cli_elf_damaged(elf)) {
        result->problem = cli_elf_damage_text(elf);
        return;
    }
    result->status = matched ? CLI_EXIT_FOUND : CLI_EXIT_NONE;
}

// Opens, searches and closes one file.
std::unique_ptr<FileResult> file_search(const CliOptions* options, const Patterns* patterns,
                                        const char* path, const MatchFastTuning* tuning,
                                        bool want_checksum) {
    auto result = std::make_unique<FileResult>();
    result->name = path;
    result->status = CLI_EXIT_FAILURE;
    CliElf elf{};
    if (cli_elf_open(path, &elf, &result->problem)) {
        file_scan(options, patterns, &elf, tuning, want_checksum, result.get());
    }
    cli_elf_close(&elf);
    return result;
}

// Writes `length` bytes to standard output. Returns 1, or 0 after the message.
int stdout_write(const char* text, size_t length) {
    if (std::fwrite(text, 1, length, stdout) != length || std::fflush(stdout) != 0) {
        cli_report_line(
            cli_report_system_text("standard output", "Error writing file", system_last_error()));
        return 0;
    }
    return 1;
}

// Writes a whole result file. Returns "", or the message line of the failure. Safe from any
// thread.
std::string result_file_write_problem(const char* path, const char* text, size_t length) {
    uint32_t error = 0;
    FileWriteStatus status = file_write_all(path, text, uint32_t(length), &error);
    if (status == FILE_WRITE_OK) {
        return "";
    }
    return cli_report_system_text(
        path, status == FILE_WRITE_OPEN_FAILED ? "Error opening file" : "Error writing file",
        error);
}

// Writes a whole result file. Returns 1, or 0 after the message.
int result_file_write(const char* path, const char* text, size_t length) {
    std::string problem = result_file_write_problem(path, text, length);
    if (!problem.empty()) {
        cli_report_line(problem);
        return 0;
    }
    return 1;
}

// Runs job(i) for i below `count` on `workers` threads and hands each result to consume(i)
// on the calling thread, in the order of i. Workers run at most a few files ahead of the
// consumer, so that finished texts do not pile up.
void files_run_ordered(size_t count, unsigned workers,
                       const std::function<std::unique_ptr<FileResult>(size_t)>& job,
                       const std::function<void(size_t, FileResult*)>& consume) {
    std::vector<std::unique_ptr<FileResult>> done(count);
    std::mutex lock;
    std::condition_variable changed;
    size_t next = 0;     // the next file a worker takes
    size_t consumed = 0; // files handed to consume
    const size_t ahead = size_t{workers} * 2;
    auto work = [&]() {
        for (;;) {
            size_t index;
            {
                std::unique_lock<std::mutex> guard(lock);
                changed.wait(guard, [&] { return next >= count || next < consumed + ahead; });
                if (next >= count) {
                    return;
                }
                index = next++;
            }
            std::unique_ptr<FileResult> result = job(index);
            std::lock_guard<std::mutex> guard(lock);
            done[index] = std::move(result);
            changed.notify_all();
        }
    };
    // The calling thread writes; `workers` threads search. When no thread can be started,
    // the calling thread searches each file itself just before writing it.
    std::vector<std::thread> threads;
    try {
        for (unsigned k = 0; k < workers; ++k) {
            threads.emplace_back(work);
        }
    } catch (const std::system_error&) {
    }
    for (size_t i = 0; i < count; ++i) {
        std::unique_ptr<FileResult> result;
        if (threads.empty()) {
            result = job(i);
        } else {
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [&] { return done[i] != nullptr; });
            result = std::move(done[i]);
        }
        consume(i, result.get());
        result.reset();
        std::lock_guard<std::mutex> guard(lock);
        consumed = i + 1;
        changed.notify_all();
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

// Reads the paths of --files-from, one per line (a CR before the line feed and empty lines
// are ignored), after those on the command line. Returns 1, or 0 after a message.
int paths_gather(const CliOptions* options, std::vector<std::string>* paths) {
    for (const char* path : options->elf_paths) {
        paths->push_back(path);
    }
    if (options->files_from) {
        char* text = cli_input_read(options->files_from);
        if (!text) {
            return 0;
        }
        for (const char* line = text; *line;) {
            size_t length = std::strcspn(line, "\n");
            size_t end = length;
            if (end > 0 && line[end - 1] == '\r') {
                --end;
            }
            if (end > 0) {
                paths->emplace_back(line, end);
            }
            line += length + (line[length] ? 1 : 0);
        }
        std::free(text);
    }
    if (paths->empty()) {
        cli_report_file(options->files_from ? options->files_from : "-", "no ELF file listed",
                        nullptr);
        return 0;
    }
    return 1;
}

std::string name_folded(const std::string& name) {
    std::string folded = name;
    for (char& c : folded) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return folded;
}

// A path's canonical spelling (as far as it exists), folded: two paths with one key are one
// file. Falls back to the path itself.
std::string path_key(const std::string& path) {
    std::error_code error;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
    return name_folded(error ? path : canonical.string());
}

// Where --output-dir puts the result for the executable named `executable` (the boot
// executable's name for a disc image) with `serial` and `checksum`.
std::string output_dir_target(const CliOptions* options, const std::string& executable,
                              const std::string& serial, uint32_t checksum) {
    std::string name;
    if (options->pnach_file) {
        name = pnach_file_name(serial, checksum);
    } else if (options->format == FORMAT_PNACH) {
        char proposal[512];
        save_name_final(true, checksum, executable.c_str(), proposal, sizeof proposal);
        name = proposal;
    } else {
        name = save_name_text_result(executable.c_str());
    }
    // Joined by hand: the same spelling in messages on every system ('/' serves Windows too).
    std::string dir = options->output_dir;
    if (dir.back() != '/') {
        dir += '/';
    }
    return dir + name;
}

// A search over several files, or into --output-dir.
CliExit files_search(const CliOptions* options, const Patterns* patterns) {
    std::vector<std::string> paths;
    if (!paths_gather(options, &paths)) {
        return CLI_EXIT_FAILURE;
    }
    const size_t count = paths.size();
    unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    if (options->output_dir) {
        // Each result file is flushed to the disk before it replaces its name, which waits on
        // the disk rather than the processor: more writers let those waits overlap.
        workers = std::max(workers, 8u);
    }
    workers = unsigned(std::min<size_t>(workers, count));
    // Many files share the processors one file per thread; a single file keeps the engine's
    // own division of its work.
    MatchFastTuning one_thread{};
    one_thread.threads = 1;
    const MatchFastTuning* tuning = count > 1 ? &one_thread : nullptr;
    const bool pnach = options->format == FORMAT_PNACH;

    std::vector<std::string> targets(count);
    if (options->output_dir) {
        std::error_code error;
        if (!std::filesystem::is_directory(options->output_dir, error)) {
            cli_report_file(options->output_dir, "Error opening file", "not a folder");
            return CLI_EXIT_FAILURE;
        }
        // Names come from the executables (the boot executable's name inside a disc image)
        // and for PNACH from the checksums: a first pass learns them, so that two files
        // giving one name are refused before anything is written.
        std::vector<bool> named(count, true);
        files_run_ordered(
            count, workers,
            [&](size_t i) {
                auto result = std::make_unique<FileResult>();
                result->status = CLI_EXIT_FAILURE;
                CliElf elf{};
                if (cli_elf_open(paths[i].c_str(), &elf, &result->problem)) {
                    result->executable = cli_elf_executable_name(&elf);
                    result->serial = elf.serial;
                    if (pnach) {
                        result->checksum = elf_image_checksum(&elf.image);
                    }
                    if (!cli_elf_damaged(&elf)) {
                        result->status = CLI_EXIT_FOUND;
                    }
                }
                cli_elf_close(&elf);
                return result;
            },
            [&](size_t i, FileResult* result) {
                named[i] = result->status != CLI_EXIT_FAILURE;
                // A file that cannot be read has no name; its search fails again and says why.
                targets[i] = named[i] ? output_dir_target(options, result->executable,
                                                          result->serial, result->checksum)
                                      : "";
            });
        // Hashed, so that long lists stay fast: names by their folded spelling, inputs by
        // their canonical path.
        std::unordered_map<std::string, size_t> names;
        std::unordered_map<std::string, size_t> inputs;
        for (size_t j = 0; j < count; ++j) {
            inputs.emplace(path_key(paths[j]), j);
        }
        for (size_t i = 0; i < count; ++i) {
            if (!named[i]) {
                continue;
            }
            auto known = names.emplace(name_folded(targets[i]), i);
            if (!known.second) {
                cli_report_line("quarnel-cli: " + paths[known.first->second] + " and " + paths[i] +
                                " would both be written to " + targets[i]);
                return CLI_EXIT_FAILURE;
            }
            // Nor may a result replace one of the files being searched.
            auto input = inputs.find(path_key(targets[i]));
            if (input != inputs.end()) {
                cli_report_line("quarnel-cli: " + paths[input->second] + " would be replaced by " +
                                targets[i]);
                return CLI_EXIT_FAILURE;
            }
        }
    }

    bool failed = false, matched = false, writing = true, line_open = false;
    std::string combined; // for --output FILE, written once at the end
    files_run_ordered(
        count, workers,
        [&](size_t i) {
            std::unique_ptr<FileResult> result = file_search(options, patterns, paths[i].c_str(),
                                                             tuning, pnach && options->output_dir);
            // Result files are written by the workers: each write waits for the disk.
            if (options->output_dir && result->status != CLI_EXIT_FAILURE) {
                if (output_dir_target(options, result->executable, result->serial,
                                      result->checksum) != targets[i]) {
                    // The file changed between the passes: its new name was not checked.
                    result->problem =
                        cli_report_file_text(paths[i].c_str(), "Error reading file",
                                             "the file changed while it was searched");
                } else {
                    result->problem = result_file_write_problem(targets[i].c_str(), result->data(),
                                                                result->length());
                }
                if (!result->problem.empty()) {
                    result->status = CLI_EXIT_FAILURE;
                }
            }
            return result;
        },
        [&](size_t i, FileResult* result) {
            if (result->status == CLI_EXIT_FAILURE) {
                if (!result->problem.empty()) {
                    cli_report_line(result->problem);
                }
                failed = true;
                return;
            }
            matched = matched || result->status == CLI_EXIT_FOUND;
            if (options->output_dir) {
                return; // written by the worker
            }
            std::string header = count > 1 ? "//File: " + paths[i] + "\r\n" : "";
            // Each header stands on a line of its own, also after "No matches found".
            if (line_open) {
                header = "\r\n" + header;
            }
            line_open =
                count > 1 && result->length() > 0 && result->data()[result->length() - 1] != '\n';
            if (options->output_path && std::strcmp(options->output_path, "-") != 0) {
                combined += header;
                combined.append(result->data(), result->length());
                return;
            }
            if (writing) {
                writing = stdout_write(header.data(), header.size()) &&
                          stdout_write(result->data(), result->length());
            }
            failed = failed || !writing;
        });
    if (options->output_path && std::strcmp(options->output_path, "-") != 0 &&
        !result_file_write(options->output_path, combined.data(), combined.size())) {
        failed = true;
    }
    return failed ? CLI_EXIT_FAILURE : matched ? CLI_EXIT_FOUND : CLI_EXIT_NONE;
}

} // namespace

CliExit cli_run_search(const CliOptions* options) {
    Patterns patterns{};
    CliExit status = CLI_EXIT_FAILURE;
    if (options->output_dir || options->files_from || options->elf_paths.size() > 1) {
        if (patterns_prepare(options, &patterns)) {
            status = files_search(options, &patterns);
        }
        patterns_free(&patterns);
        return status;
    }
    // One file: the checks come in the window's order, the ELF file first.
    CliElf elf{};
    std::string problem;
    if (!cli_elf_open(options->elf_path, &elf, &problem)) {
        cli_elf_close(&elf);
        cli_report_line(problem);
        return CLI_EXIT_FAILURE;
    }
    if (!patterns_prepare(options, &patterns)) {
        cli_elf_close(&elf);
        patterns_free(&patterns);
        return CLI_EXIT_FAILURE;
    }
    FileResult result{};
    file_scan(options, &patterns, &elf, nullptr, false, &result);
    cli_elf_close(&elf);
    patterns_free(&patterns);
    if (result.status == CLI_EXIT_FAILURE) {
        if (!result.problem.empty()) {
            cli_report_line(result.problem);
        }
        return CLI_EXIT_FAILURE;
    }
    if (options->output_path && std::strcmp(options->output_path, "-") != 0) {
        if (!result_file_write(options->output_path, result.data(), result.length())) {
            return CLI_EXIT_FAILURE;
        }
    } else if (!stdout_write(result.data(), result.length())) {
        return CLI_EXIT_FAILURE;
    }
    return result.status;
}

CliExit cli_run_checksum(const char* elf_path) {
    CliElf elf{};
    std::string problem;
    if (!cli_elf_open(elf_path, &elf, &problem)) {
        cli_elf_close(&elf);
        cli_report_line(problem);
        return CLI_EXIT_FAILURE;
    }
    uint32_t checksum = elf_image_checksum(&elf.image);
    bool damaged = cli_elf_damaged(&elf);
    if (damaged) {
        problem = cli_elf_damage_text(&elf);
    }
    cli_elf_close(&elf);
    if (damaged) {
        cli_report_line(problem);
        return CLI_EXIT_FAILURE;
    }
    char line[16];
    int length = std::snprintf(line, sizeof line, "%08X\n", unsigned(checksum));
    return stdout_write(line, size_t(length)) ? CLI_EXIT_FOUND : CLI_EXIT_FAILURE;
}

namespace {

// Reads the boot executable of a disc image. Returns 1, or 0 after one message (a loose file
// is refused: it has no boot executable).
int boot_read(const char* image_path, ExecutableFile* file) {
    std::string message;
    ExecutableFileStatus status = executable_file_read(image_path, file, &message);
    if (status == EXECUTABLE_FILE_OK && !file->in_image) {
        std::free(file->data);
        file->data = nullptr;
        status = EXECUTABLE_FILE_BAD_IMAGE;
        message = "Not a disc image";
    }
    if (status != EXECUTABLE_FILE_OK) {
        cli_report_line(cli_report_file_text(
            image_path, message.empty() ? "Error reading file" : message.c_str(), nullptr));
        return 0;
    }
    return 1;
}

} // namespace

CliExit cli_run_boot(const char* image_path) {
    ExecutableFile file;
    if (!boot_read(image_path, &file)) {
        return CLI_EXIT_FAILURE;
    }
    ElfImage image{};
    ElfStatus parsed = elf_image_parse(file.data, file.size, &image);
    uint32_t checksum = parsed == ELF_OK ? elf_image_checksum(&image) : 0;
    elf_image_clear(&image);
    std::free(file.data);
    if (parsed != ELF_OK) {
        std::string reason = file.boot.path_in_image + ": " + elf_status_text(parsed);
        cli_report_file(image_path, MSG_INVALID_ELF, reason.c_str());
        return CLI_EXIT_FAILURE;
    }
    char numbers[48];
    std::snprintf(numbers, sizeof numbers, "\t%llu\t%08X\n",
                  static_cast<unsigned long long>(file.boot.size), unsigned(checksum));
    std::string line = file.boot.path_in_image + numbers;
    return stdout_write(line.data(), line.size()) ? CLI_EXIT_FOUND : CLI_EXIT_FAILURE;
}

CliExit cli_run_extract(const char* image_path, const char* out_path) {
    std::error_code error;
    if (std::filesystem::equivalent(image_path, out_path, error) && !error) {
        cli_report_file(out_path, "Error opening file", "it is the disc image itself");
        return CLI_EXIT_FAILURE;
    }
    ExecutableFile file;
    if (!boot_read(image_path, &file)) {
        return CLI_EXIT_FAILURE;
    }
    int written = result_file_write(out_path, reinterpret_cast<const char*>(file.data), file.size);
    std::free(file.data);
    return written ? CLI_EXIT_FOUND : CLI_EXIT_FAILURE;
}
