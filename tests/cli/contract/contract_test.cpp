// Runs quarnel-cli on the cases of the *.cases files beside this program and compares its exit
// status, standard output and standard error byte for byte with what each case expects. The
// expected texts were worked out by hand from the rules of the search, not taken from a run.
//
// A case file is read line by line; '#' starts a comment line. Directives:
//   case NAME                  starts a case
//   elf SIZE                   a zero-filled ELF file of SIZE bytes: magic, e_phoff 52, and
//                              one program header per `seg` line from byte 52 on
//   seg TYPE OFFSET VADDR FILESZ FLAGS
//   put OFFSET BYTE...         hexadecimal bytes written into the file
//   phoff VALUE, phnum VALUE   overwrite e_phoff or e_phnum after the headers are written
//   cut SIZE                   truncates the file
//   same-elf                   uses the previous case's file (with neither: an empty file)
//   search TEXT, replace TEXT, stdin TEXT   pattern texts (appended; escapes below)
//   args TEXT                  arguments; {elf} {search} {replace} {out} {missing} {dir}
//                              stand for the files of the case, {sample} for the bundled
//                              sample's folder
//   line TEXT                  an expected output line: TEXT, then CR LF; {version} stands for
//                              the program's version
//   text TEXT                  expected output without a line end
//   to-file                    the expected output goes to {out}, standard output stays empty
//   old TEXT                   {out} holds TEXT before the run
//   status N                   expected exit status (numbers: decimal, or 0x hexadecimal)
//   err TEXT                   the one expected line on standard error
//   usage                      the usage is shown: on standard output when the status is 0,
//                              else on standard error
//   end                        ends the case
// TEXT escapes: \r \n \t \\ \xHH and \e (nothing: keeps trailing blanks visible).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ContractCase {
    std::string name, where; // where: file:line of its `case` line
    std::string elf, search, replace, input, args, out, old, err;
    bool has_search = false, has_replace = false, has_old = false, to_file = false;
    bool usage = false;
    int status = -1;
};

// Names a failing case by its place instead of its bytes.
void PrintTo(const ContractCase& c, std::ostream* out) {
    *out << c.where;
}

std::string file_read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void file_write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), std::streamsize(bytes.size()));
}

std::string unescape(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i] == '\\' && i + 1 < text.size() ? text[++i] : 0;
        if (!c) {
            bytes += text[i];
        } else if (c == 'x' && i + 2 < text.size()) {
            bytes += char(std::stoul(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else if (c != 'e') {
            bytes += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
        }
    }
    return bytes;
}

void put32(std::string& f, uint32_t at, uint32_t value) {
    for (uint32_t k = 0; k < 4 && at + k < f.size(); k++) {
        f[at + k] = char(value >> (8 * k));
    }
}

uint32_t number(const std::string& word) {
    return uint32_t(std::stoul(word, nullptr, 0));
}

// The ELF file under construction: its bytes are made when the first `put`, `cut`, `phoff`
// or `phnum` needs them, or at `end`.
struct ElfDraft {
    bool open = false, made = false;
    uint32_t size = 0;
    std::vector<std::vector<uint32_t>> segments;
    std::string bytes;

    void make() {
        if (made) {
            return;
        }
        made = true;
        bytes.assign(size, '\0');
        const char magic[] = {0x7F, 'E', 'L', 'F', 1, 1, 1};
        for (size_t k = 0; k < sizeof magic && k < size; k++) {
            bytes[k] = magic[k];
        }
        put32(bytes, 28, 52);
        if (size > 44) {
            bytes[44] = char(segments.size());
        }
        for (size_t i = 0; i < segments.size(); i++) {
            const std::vector<uint32_t>& s = segments[i];
            uint32_t fields[] = {s[0], s[1], s[2], s[2], s[3], s[3], s[4]};
            for (uint32_t k = 0; k < 7; k++) {
                put32(bytes, uint32_t(52 + 32 * i + 4 * k), fields[k]);
            }
        }
    }
};

std::vector<ContractCase> cases_read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<ContractCase> cases;
    ContractCase c;
    ElfDraft elf;
    std::string previous_elf, line;
    bool inside = false;
    int line_number = 0;
    auto fail = [&](const std::string& why) {
        throw std::runtime_error(path + ":" + std::to_string(line_number) + ": " + why);
    };
    while (std::getline(in, line)) {
        line_number++;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        size_t blank = line.find(' ');
        std::string word = line.substr(0, blank);
        std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
        std::istringstream values(rest);
        std::string field;
        if (word == "case") {
            if (inside) {
                fail("case inside a case");
            }
            c = ContractCase{};
            c.name = rest;
            c.where = path + ":" + std::to_string(line_number);
            elf = ElfDraft{};
            inside = true;
        } else if (!inside) {
            fail("directive outside a case");
        } else if (word == "elf") {
            elf.open = true;
            elf.size = number(rest);
        } else if (word == "seg") {
            std::vector<uint32_t> fields;
            while (values >> field) {
                fields.push_back(number(field));
            }
            if (fields.size() != 5 || elf.made) {
                fail("seg needs TYPE OFFSET VADDR FILESZ FLAGS, before any put");
            }
            elf.segments.push_back(fields);
        } else if (word == "put" || word == "phoff" || word == "phnum" || word == "cut") {
            elf.make();
            values >> field;
            uint32_t at = number(field);
            if (word == "put") {
                while (values >> field) {
                    if (at >= elf.bytes.size()) {
                        fail("put past the end of the file");
                    }
                    elf.bytes[at++] = char(std::stoul(field, nullptr, 16));
                }
            } else if (word == "phoff") {
                put32(elf.bytes, 28, at);
            } else if (word == "phnum") {
                elf.bytes[44] = char(at);
                elf.bytes[45] = char(at >> 8);
            } else {
                elf.bytes.resize(at);
            }
        } else if (word == "same-elf") {
            c.elf = previous_elf;
        } else if (word == "search" || word == "replace") {
            (word == "search" ? c.has_search : c.has_replace) = true;
            (word == "search" ? c.search : c.replace) += unescape(rest);
        } else if (word == "stdin") {
            c.input += unescape(rest);
        } else if (word == "args") {
            c.args = rest;
        } else if (word == "line" || word == "text") {
            c.out += unescape(rest) + (word == "line" ? "\r\n" : "");
        } else if (word == "old") {
            c.old = unescape(rest);
            c.has_old = true;
        } else if (word == "to-file" || word == "usage") {
            (word == "usage" ? c.usage : c.to_file) = true;
        } else if (word == "status") {
            c.status = int(number(rest));
        } else if (word == "err") {
            c.err = unescape(rest) + "\n";
        } else if (word == "end") {
            if (elf.open) {
                elf.make();
                c.elf = elf.bytes;
            }
            if (c.status < 0 || c.args.empty()) {
                fail("a case needs args and status");
            }
            previous_elf = c.elf;
            cases.push_back(c);
            inside = false;
        } else {
            fail("unknown directive " + word);
        }
    }
    if (inside) {
        fail("case without end");
    }
    return cases;
}

std::vector<ContractCase> cases_all() {
    std::vector<std::string> paths;
    for (const auto& entry : fs::directory_iterator(QUARNEL_CONTRACT_CASES)) {
        if (entry.path().extension() == ".cases") {
            paths.push_back(entry.path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    std::vector<ContractCase> cases;
    for (const std::string& path : paths) {
        std::vector<ContractCase> more = cases_read(path);
        cases.insert(cases.end(), more.begin(), more.end());
    }
    return cases;
}

std::string in_quotes(const std::string& text) {
    return "\"" + text + "\"";
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

int exit_status(int raw) {
    if (QUARNEL_SYSTEM_WAIT_STATUS) {
        return (raw & 0x7F) ? -(raw & 0x7F) : (raw >> 8) & 0xFF; // negative: a signal
    }
    return raw;
}

class Contract : public ::testing::TestWithParam<ContractCase> {};

TEST_P(Contract, ExitStatusOutputAndMessage) {
    const ContractCase& c = GetParam();
    SCOPED_TRACE(c.where + ": " + c.name);
    std::string dir = std::string(QUARNEL_CONTRACT_WORK) + "/" + c.name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::string out_file = dir + "/result.txt";
    file_write(dir + "/game.elf", c.elf);
    if (c.has_search) {
        file_write(dir + "/search.txt", c.search);
    }
    if (c.has_replace) {
        file_write(dir + "/replace.txt", c.replace);
    }
    if (c.has_old) {
        file_write(out_file, c.old);
    }
    file_write(dir + "/stdin.bin", c.input);
    std::string args = c.args;
    const std::pair<const char*, std::string> names[] = {
        {"{elf}", dir + "/game.elf"},         {"{search}", dir + "/search.txt"},
        {"{replace}", dir + "/replace.txt"},  {"{out}", out_file},
        {"{missing}", dir + "/no-such-file"}, {"{dir}", dir},
        {"{sample}", QUARNEL_SAMPLE_DIR}};
    for (const auto& [name, path] : names) {
        args = replace_all(args, name, in_quotes(path));
    }

    std::string command = in_quotes(QUARNEL_CLI) + " " + args + " <" +
                          in_quotes(dir + "/stdin.bin") + " >" + in_quotes(dir + "/stdout.bin") +
                          " 2>" + in_quotes(dir + "/stderr.txt");
    if (!QUARNEL_SYSTEM_WAIT_STATUS) {
        command = "\"" + command + "\""; // cmd.exe strips one pair of quotes
    }
    int status = exit_status(std::system(command.c_str()));
    std::string out = file_read(dir + "/stdout.bin");
    std::string err = file_read(dir + "/stderr.txt");
    std::erase(err, '\r'); // standard error is a text stream

    EXPECT_EQ(status, c.status);
    std::string expected = replace_all(c.out, "{version}", QUARNEL_CLI_VERSION);
    if (c.usage && c.status == 0) {
        EXPECT_EQ(out.rfind("usage: quarnel-cli", 0), 0u) << out;
    } else {
        EXPECT_EQ(out, c.to_file ? "" : expected);
    }
    if (c.to_file || c.has_old) {
        EXPECT_EQ(file_read(out_file), c.to_file ? expected : c.old);
    }
    if (c.usage && c.status != 0) {
        EXPECT_NE(err.find("usage: quarnel-cli"), std::string::npos) << err;
    } else {
        EXPECT_EQ(err, c.err);
    }
}

std::string case_name(const ::testing::TestParamInfo<ContractCase>& info) {
    std::string name;
    for (char c : info.param.name) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Cases, Contract, ::testing::ValuesIn(cases_all()), case_name);

} // namespace
