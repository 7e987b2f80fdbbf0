// Runs quarnel-cli on the hand-worked cases of the *.cases files here: exit status, standard
// output and standard error byte for byte. '#' starts a comment line; TEXT knows \r \n \t \\ \xHH.
//   case NAME ... end          one case; `args TEXT` lines are runs of it with the same results
//   elf SIZE, seg TYPE OFFSET VADDR FILESZ FLAGS, put OFFSET HEXBYTE...   a zero-filled ELF
//                              file, its program headers, bytes in it; same-elf: the last one
//   search, replace, stdin TEXT   pattern texts; {search} {replace} {elf} {out} {missing}
//                              in args name the files, {sample} the bundled sample's folder
//   line TEXT, text TEXT, block PATTERN MASK   expected output with CR LF, without, a block's
//                              header lines; {version} stands for the version
//   to-file, old TEXT          the output is expected in {out}, which holds TEXT beforehand
//   status N, err TEXT, usage  exit status, the line on standard error, the usage instead;
//                              err may be given several times, and {NAME} in it names a file
//   file NAME                  the ELF as built so far, also written as NAME ({NAME} in args)
//   write NAME TEXT            a text file NAME (TEXT appended when given again)
//   folder NAME                an empty folder NAME
//   expect NAME, absent NAME   the following line/text go to file NAME of the case's folder
//                              instead of standard output; NAME must not exist afterwards
// Commands run in the case's folder, so that args may also name its files relatively.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

struct Case {
    std::string name, where, out, err; // where: file:line of the `case` line
    std::optional<std::string> elf = "", input = "", search, replace, old; // written when set
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> extra;    // files written beforehand
    std::vector<std::pair<std::string, std::string>> expected; // files expected afterwards
    std::vector<std::string> absent;
    bool to_file = false, usage = false;
    int status = -1;
};

// Names a failing case by its place instead of its bytes.
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.where;
}

std::string file_read(const std::string& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

std::string unescape(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i] == '\\' && i + 1 < text.size() ? text[++i] : 0;
        if (c == 'x')
            bytes += char(std::stoul(text.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            bytes += !c ? text[i] : c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c;
    }
    return bytes;
}

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

uint32_t number(const std::string& word) {
    return uint32_t(std::stoul(word, nullptr, 0));
}

// Writes the low `size` bytes of `value` little-endian.
void put(std::string& f, uint32_t at, uint32_t value, uint32_t size = 4) {
    for (uint32_t k = 0; k < size; k++)
        f.at(at + k) = char(value >> (8 * k));
}

void cases_read(const fs::path& path, std::vector<Case>& cases) {
    std::ifstream in(path, std::ios::binary);
    Case c;
    std::string line, previous_elf;
    uint32_t segments = 0;
    for (int line_number = 1; std::getline(in, line); line_number++) {
        if (line.empty() || line[0] == '#')
            continue;
        size_t blank = std::min(line.find(' '), line.size());
        std::string word = line.substr(0, blank),
                    rest = line.substr(std::min(blank + 1, line.size()));
        std::istringstream values(rest);
        std::string field;
        if (word == "case") {
            c = Case{};
            for (char ch : rest) // a test name and a folder name
                c.name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
            c.where = path.string() + ":" + std::to_string(line_number);
        } else if (word == "elf") {
            c.elf->assign(number(rest), '\0');
            c.elf->replace(0, 7, "\177ELF\1\1\1"); // 32-bit, little-endian, version 1
            put(*c.elf, 28, 52);
            segments = 0;
        } else if (word == "seg") { // p_paddr and p_memsz repeat p_vaddr and p_filesz
            uint32_t s[5];
            for (uint32_t& v : s)
                values >> field, v = number(field);
            const uint32_t header[] = {s[0], s[1], s[2], s[2], s[3], s[3], s[4]};
            for (uint32_t k = 0; k < 7; k++)
                put(*c.elf, 52 + 32 * segments + 4 * k, header[k]);
            put(*c.elf, 44, ++segments, 2);
        } else if (word == "put") {
            values >> field;
            for (uint32_t at = number(field); values >> field; at++)
                c.elf->at(at) = char(std::stoul(field, nullptr, 16));
        } else if (word == "same-elf") {
            c.elf = previous_elf;
        } else if (word == "search" || word == "replace" || word == "stdin") {
            auto& text = word == "search" ? c.search : word == "replace" ? c.replace : c.input;
            text = text.value_or("") + unescape(rest);
        } else if (word == "args") {
            c.args.push_back(rest);
        } else if (word == "block") {
            std::string mask;
            values >> field >> mask;
            (c.expected.empty() ? c.out : c.expected.back().second) +=
                "//Search pattern: " + field + "\r\n//Search mask:    " + mask + "\r\n";
        } else if (word == "file") {
            c.extra.emplace_back(rest, *c.elf);
        } else if (word == "folder") {
            c.extra.emplace_back(rest + "/", "");
        } else if (word == "write") {
            std::string name = rest.substr(0, rest.find(' ')), text;
            if (name.size() < rest.size())
                text = unescape(rest.substr(name.size() + 1));
            auto found = std::find_if(c.extra.begin(), c.extra.end(),
                                      [&](const auto& f) { return f.first == name; });
            if (found == c.extra.end())
                c.extra.emplace_back(name, text);
            else
                found->second += text;
        } else if (word == "expect") {
            c.expected.emplace_back(rest, "");
        } else if (word == "absent") {
            c.absent.push_back(rest);
        } else if (word == "line" || word == "text") {
            (c.expected.empty() ? c.out : c.expected.back().second) +=
                replace_all(unescape(rest), "{version}", QUARNEL_CLI_VERSION) +
                (word == "line" ? "\r\n" : "");
        } else if (word == "old") {
            c.old = unescape(rest);
        } else if (word == "to-file" || word == "usage") {
            (word == "usage" ? c.usage : c.to_file) = true;
        } else if (word == "status") {
            c.status = int(number(rest));
        } else if (word == "err") {
            c.err += unescape(rest) + "\n";
        } else if (word == "end") {
            if (c.usage) // where the usage goes is checked, not its text
                (c.status ? c.err : c.out) = "usage";
            previous_elf = *c.elf;
            cases.push_back(c);
        } else {
            throw std::runtime_error(path.string() + ":" + std::to_string(line_number) +
                                     ": unknown " + word);
        }
    }
}

std::vector<Case> cases_all() {
    std::vector<Case> cases;
    for (const auto& entry : fs::directory_iterator(QUARNEL_CONTRACT_CASES))
        if (entry.path().extension() == ".cases")
            cases_read(entry.path(), cases);
    return cases;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The Windows build runs these same cases through Wine with this command.
const char* const given_command = std::getenv("QUARNEL_CLI_COMMAND");

class Contract : public ::testing::TestWithParam<Case> {};

TEST_P(Contract, ExitStatusOutputAndMessage) {
    const Case& c = GetParam();
    const std::string dir = std::string(QUARNEL_CONTRACT_WORK) + "/" + c.name + "/";
    const std::pair<const char*, const std::optional<std::string>*> files[] = {
        {"elf", &c.elf},         {"stdin", &c.input}, {"search", &c.search},
        {"replace", &c.replace}, {"out", &c.old},     {"missing", nullptr}};
    ASSERT_FALSE(c.args.empty());
    for (std::string args : c.args) {
        SCOPED_TRACE(c.where + ": " + args);
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::string err_expected = c.err;
        for (const auto& [name, bytes] : files) {
            if (bytes && *bytes)
                std::ofstream(dir + name, std::ios::binary) << **bytes;
            args = replace_all(args, std::string("{") + name + "}", quoted(dir + name));
            err_expected = replace_all(err_expected, std::string("{") + name + "}", dir + name);
        }
        for (auto [name, bytes] : c.extra) {
            fs::create_directories(fs::path(dir + name).parent_path());
            if (name.back() == '/')
                name.pop_back();
            else
                std::ofstream(dir + name, std::ios::binary) << bytes;
            args = replace_all(args, "{" + name + "}", quoted(dir + name));
            err_expected = replace_all(err_expected, "{" + name + "}", dir + name);
        }
        args = replace_all(args, "{sample}", quoted(QUARNEL_SAMPLE_DIR));
        std::string command =
            "cd " + quoted(dir) + " && " +
            (given_command && *given_command ? given_command : quoted(QUARNEL_CLI)) + " " + args +
            " <" + quoted(dir + "stdin") + " >" + quoted(dir + "stdout") + " 2>" +
            quoted(dir + "stderr");
        int raw = std::system(command.c_str());
        std::string out = file_read(dir + "stdout"), err = file_read(dir + "stderr");
        if (given_command) { // standard error is a text stream on Windows: CR LF line ends
            err = replace_all(err, "\r\n", "\n");
            // The system's reasons are worded by each system: only their presence is compared.
            static const std::regex reason(R"( \([^()]*\)\n)");
            err = std::regex_replace(err, reason, " (...)\n");
            err_expected = std::regex_replace(err_expected, reason, " (...)\n");
        }
        for (std::string* stream : {&out, &err})
            if (c.usage && stream->find("usage: quarnel-cli") != std::string::npos)
                *stream = "usage";

        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status);
        EXPECT_EQ(out, c.to_file ? "" : c.out);
        EXPECT_EQ(err, err_expected);
        EXPECT_EQ(file_read(dir + "out"), c.to_file ? c.out : c.old.value_or(""));
        for (const auto& [name, bytes] : c.expected) {
            EXPECT_TRUE(fs::exists(dir + name)) << name;
            EXPECT_EQ(file_read(dir + name), bytes) << name;
        }
        for (const std::string& name : c.absent)
            EXPECT_FALSE(fs::exists(dir + name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Contract, ::testing::ValuesIn(cases_all()),
                         [](const auto& info) { return info.param.name; });

} // namespace
