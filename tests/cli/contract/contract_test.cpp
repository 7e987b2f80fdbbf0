// Runs quarnel-cli on the cases of the *.cases files beside this program and compares its exit
// status, standard output and standard error byte for byte with what each case expects. The
// expected texts were worked out by hand from the rules of the search, not taken from a run.
//
// A case file is read line by line; '#' starts a comment line. Directives:
//   case NAME / end            start and end a case
//   elf SIZE                   a zero-filled ELF file: magic, e_phoff 52, e_phnum, and one
//   seg TYPE OFFSET VADDR FILESZ FLAGS       program header per `seg` from byte 52 on
//   put OFFSET BYTE...         hexadecimal bytes written into the file
//   same-elf                   the previous case's file (with no elf either: an empty file)
//   search, replace, stdin TEXT   pattern texts (appended)
//   args TEXT                  {elf} {search} {replace} {out} {missing} stand for the case's
//                              files, {sample} for the bundled sample's folder; each args
//                              line is a run of its own with the same expectations
//   line TEXT, text TEXT       expected output, with or without CR LF; {version}: the version
//   block PATTERN MASK         the two header lines of a pattern's block
//   to-file, old TEXT          the output is expected in {out}; {out} holds TEXT beforehand
//   status N, err TEXT         expected exit status, and the one line on standard error
//   usage                      the usage is expected, on standard output when status is 0
// Numbers are decimal or 0x hexadecimal. TEXT escapes: \r \n \t \\ \xHH.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ContractCase {
    std::string name, where; // where: file:line of its `case` line
    std::string elf, input, out, err;
    std::vector<std::string> args;
    std::optional<std::string> search, replace, old; // files only written when named
    bool to_file = false, usage = false;
    int status = -1;
};

// Names a failing case by its place instead of its bytes.
void PrintTo(const ContractCase& c, std::ostream* out) {
    *out << c.where;
}

std::string file_read(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
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
        } else {
            bytes += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
        }
    }
    return bytes;
}

// Writes the low `size` bytes of `value` little-endian, as far as the file reaches.
void put(std::string& f, uint32_t at, uint32_t value, uint32_t size = 4) {
    for (uint32_t k = 0; k < size && at + k < f.size(); k++) {
        f[at + k] = char(value >> (8 * k));
    }
}

uint32_t number(const std::string& word) {
    return uint32_t(std::stoul(word, nullptr, 0));
}

std::vector<ContractCase> cases_read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<ContractCase> cases;
    ContractCase c;
    std::string previous_elf, line;
    uint32_t segments = 0;
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
            c = ContractCase{};
            for (char ch : rest) { // a test name and a folder name
                c.name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
            }
            c.where = path + ":" + std::to_string(line_number);
        } else if (word == "elf") {
            c.elf.assign(number(rest), '\0');
            put(c.elf, 0, 0x464C457F);
            put(c.elf, 4, 0x010101);
            put(c.elf, 28, 52);
            segments = 0;
        } else if (word == "seg") {
            std::vector<uint32_t> s;
            while (values >> field) {
                s.push_back(number(field));
            }
            s.resize(5);
            const uint32_t fields[] = {s[0], s[1], s[2], s[2], s[3], s[3], s[4]};
            for (uint32_t k = 0; k < 7; k++) {
                put(c.elf, 52 + 32 * segments + 4 * k, fields[k]);
            }
            put(c.elf, 44, ++segments, 2);
        } else if (word == "put") {
            values >> field;
            for (uint32_t at = number(field); values >> field; at++) {
                if (at >= c.elf.size()) {
                    fail("put past the end of the file");
                }
                c.elf[at] = char(std::stoul(field, nullptr, 16));
            }
        } else if (word == "same-elf") {
            c.elf = previous_elf;
        } else if (word == "search" || word == "replace") {
            std::optional<std::string>& text = word == "search" ? c.search : c.replace;
            text = text.value_or("") + unescape(rest);
        } else if (word == "stdin") {
            c.input += unescape(rest);
        } else if (word == "args") {
            c.args.push_back(rest);
        } else if (word == "block") {
            values >> field;
            c.out += "//Search pattern: " + field + "\r\n";
            values >> field;
            c.out += "//Search mask:    " + field + "\r\n";
        } else if (word == "line" || word == "text") {
            c.out += unescape(rest) + (word == "line" ? "\r\n" : "");
        } else if (word == "old") {
            c.old = unescape(rest);
        } else if (word == "to-file" || word == "usage") {
            (word == "usage" ? c.usage : c.to_file) = true;
        } else if (word == "status") {
            c.status = int(number(rest));
        } else if (word == "err") {
            c.err = unescape(rest) + "\n";
        } else if (word == "end") {
            if (c.status < 0 || c.args.empty()) {
                fail("a case needs args and status");
            }
            previous_elf = c.elf;
            cases.push_back(c);
        } else {
            fail("unknown directive " + word);
        }
    }
    return cases;
}

std::vector<ContractCase> cases_all() {
    std::vector<ContractCase> cases;
    for (const auto& entry : fs::directory_iterator(QUARNEL_CONTRACT_CASES)) {
        if (entry.path().extension() == ".cases") {
            std::vector<ContractCase> more = cases_read(entry.path().string());
            cases.insert(cases.end(), more.begin(), more.end());
        }
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

// The program under test: the one built beside these tests, or the command given in
// QUARNEL_CLI_COMMAND (the Windows build runs these same cases through Wine with it).
const char* cli_command_given() {
    const char* command = std::getenv("QUARNEL_CLI_COMMAND");
    return command && *command ? command : nullptr;
}

std::string cli_command() {
    return cli_command_given() ? cli_command_given() : in_quotes(QUARNEL_CLI);
}

class Contract : public ::testing::TestWithParam<ContractCase> {};

TEST_P(Contract, ExitStatusOutputAndMessage) {
    const ContractCase& c = GetParam();
    std::string dir = std::string(QUARNEL_CONTRACT_WORK) + "/" + c.name;
    std::string out_file = dir + "/result.txt";
    const std::pair<std::string, std::optional<std::string>> files[] = {
        {dir + "/game.elf", c.elf},
        {dir + "/stdin.bin", c.input},
        {dir + "/search.txt", c.search},
        {dir + "/replace.txt", c.replace},
        {out_file, c.old}};
    const std::pair<const char*, std::string> names[] = {
        {"{elf}", dir + "/game.elf"},         {"{search}", dir + "/search.txt"},
        {"{replace}", dir + "/replace.txt"},  {"{out}", out_file},
        {"{missing}", dir + "/no-such-file"}, {"{sample}", QUARNEL_SAMPLE_DIR}};
    std::string expected = replace_all(c.out, "{version}", QUARNEL_CLI_VERSION);
    for (std::string args : c.args) {
        SCOPED_TRACE(c.where + ": " + c.name + ": " + args);
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const auto& [path, bytes] : files) {
            if (bytes) {
                file_write(path, *bytes);
            }
        }
        for (const auto& [name, path] : names) {
            args = replace_all(args, name, in_quotes(path));
        }
        std::string command = cli_command() + " " + args + " <" + in_quotes(dir + "/stdin.bin") +
                              " >" + in_quotes(dir + "/stdout.bin") + " 2>" +
                              in_quotes(dir + "/stderr.txt");
        int raw = std::system(command.c_str());
        int status = (raw & 0x7F) ? -(raw & 0x7F) : (raw >> 8) & 0xFF; // negative: a signal
        std::string out = file_read(dir + "/stdout.bin");
        std::string err = file_read(dir + "/stderr.txt");
        if (cli_command_given()) {
            // Standard error is a text stream on Windows: its line ends in CR LF there.
            err = replace_all(err, "\r\n", "\n");
        }

        EXPECT_EQ(status, c.status);
        if (c.usage && c.status == 0) {
            EXPECT_EQ(out.rfind("usage: quarnel-cli", 0), 0u) << out;
        } else {
            EXPECT_EQ(out, c.to_file ? "" : expected);
        }
        if (c.to_file || c.old) {
            EXPECT_EQ(file_read(out_file), c.to_file ? expected : *c.old);
        }
        if (c.usage && c.status != 0) {
            EXPECT_NE(err.find("usage: quarnel-cli"), std::string::npos) << err;
        } else {
            EXPECT_EQ(err, c.err);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Contract, ::testing::ValuesIn(cases_all()),
                         [](const auto& info) { return info.param.name; });

} // namespace
