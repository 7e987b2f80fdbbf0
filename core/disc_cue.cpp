// The data file named by a cue sheet.
#include "disc_cue.h"

static bool is_space(char c) {
    return c == ' ' || c == '\t';
}

int disc_cue_data_file(const std::string& text, const std::string& cue_path,
                       std::string* data_path) {
    if (text.find('\0') != std::string::npos) {
        return 0;
    }
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        size_t at = 0;
        while (at < line.size() && is_space(line[at])) {
            ++at;
        }
        std::string keyword = line.substr(at, 4);
        for (char& c : keyword) {
            c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
        if (keyword != "FILE" || at + 4 >= line.size() || !is_space(line[at + 4])) {
            continue;
        }
        at += 4;
        while (at < line.size() && is_space(line[at])) {
            ++at;
        }
        std::string name;
        if (at < line.size() && line[at] == '"') {
            size_t close = line.find('"', at + 1);
            if (close == std::string::npos) {
                return 0;
            }
            name = line.substr(at + 1, close - at - 1);
        } else {
            size_t stop = at;
            while (stop < line.size() && !is_space(line[stop])) {
                ++stop;
            }
            name = line.substr(at, stop - at);
        }
        if (name.empty()) {
            return 0;
        }
        bool absolute = name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':');
        size_t slash = cue_path.find_last_of("/\\");
        *data_path =
            absolute || slash == std::string::npos ? name : cue_path.substr(0, slash + 1) + name;
        return 1;
    }
    return 0;
}
