// Reading and writing patch files line by line.
#include "core/patch_file.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// A cursor over one line that knows the line's end.
struct Cursor {
    const std::string& text;
    size_t at;

    bool done() const {
        return at >= text.size();
    }
    char peek() const {
        return done() ? '\0' : text[at];
    }
    void skip_blanks() {
        while (!done() && is_blank(text[at]))
            at++;
    }
    // Consumes `word` when the line continues with it (case ignored).
    bool take_word(const char* word) {
        size_t n = std::strlen(word);
        if (text.size() - at < n)
            return false;
        for (size_t i = 0; i < n; i++) {
            if (lower(text[at + i]) != lower(word[i]))
                return false;
        }
        at += n;
        return true;
    }
    bool take(char c) {
        skip_blanks();
        if (peek() != c)
            return false;
        at++;
        skip_blanks();
        return true;
    }
    // Reads 1 to 8 hexadecimal digits; more digits, or none, fail.
    bool take_hex(uint32_t* value, size_t* start, size_t* length) {
        *start = at;
        uint32_t v = 0;
        size_t n = 0;
        while (!done() && hex_digit(text[at]) >= 0) {
            v = v << 4 | uint32_t(hex_digit(text[at]));
            at++;
            n++;
        }
        *length = n;
        *value = v;
        return n >= 1 && n <= 8;
    }
    // True when nothing but blanks and an optional "//" comment is left.
    bool at_line_end() {
        skip_blanks();
        return done() || text.compare(at, 2, "//") == 0;
    }
};

// The problem of a write that does not fit, or "" when it does.
std::string fit_problem(uint32_t width, uint32_t address, uint32_t value) {
    static const char* const names[] = {"", "byte", "short", "", "word"};
    if (width == 1 && value > 0xFF)
        return "value does not fit a byte";
    if (width == 2 && value > 0xFFFF)
        return "value does not fit a short";
    if (width > 1 && address % width != 0)
        return std::string("address not aligned for a ") + names[width];
    return "";
}

uint32_t width_of_code_type(uint32_t type) {
    return type == 0 ? 1 : type == 1 ? 2 : type == 2 ? 4 : 0;
}

void parse_pnach(PatchLine* line, Cursor* c) {
    line->kind = PATCH_LINE_MALFORMED;
    if (!c->take('=')) {
        line->problem = "'=' missing after 'patch'";
        return;
    }
    uint32_t place = 0;
    size_t digits = 0;
    while (c->peek() >= '0' && c->peek() <= '9' && digits < 9) {
        place = place * 10 + uint32_t(c->peek() - '0');
        c->at++;
        digits++;
    }
    if (digits == 0 || digits > 8) {
        line->problem = "bad place (the P of patch=P)";
        return;
    }
    if (!c->take(',')) {
        line->problem = "',' missing after the place";
        return;
    }
    size_t cpu_at = c->at;
    while (!c->done() && c->peek() != ',' && !is_blank(c->peek()))
        c->at++;
    std::string cpu = c->text.substr(cpu_at, c->at - cpu_at);
    if (!c->take(',')) {
        line->problem = "',' missing after the processor";
        return;
    }
    uint32_t address = 0;
    if (!c->take_hex(&address, &line->address_at, &line->address_length)) {
        line->problem = "bad address (1 to 8 hexadecimal digits)";
        return;
    }
    if (!c->take(',')) {
        line->problem = "',' missing after the address";
        return;
    }
    size_t type_at = c->at;
    while (!c->done() && c->peek() != ',' && !is_blank(c->peek()))
        c->at++;
    std::string type = c->text.substr(type_at, c->at - type_at);
    for (char& ch : type)
        ch = lower(ch);
    if (!c->take(',')) {
        line->problem = "',' missing after the type";
        return;
    }
    uint32_t value = 0;
    if (!c->take_hex(&value, &line->value_at, &line->value_length)) {
        line->problem = "bad value (1 to 8 hexadecimal digits)";
        return;
    }
    if (!c->at_line_end()) {
        line->problem = "unexpected text after the value";
        return;
    }

    line->kind = PATCH_LINE_PNACH;
    line->place = place;
    line->value = value;
    line->address = address;
    if (type == "byte") {
        line->width = 1;
    } else if (type == "short") {
        line->width = 2;
        line->code_type = 1;
    } else if (type == "word") {
        line->width = 4;
        line->code_type = 2;
    } else if (type == "extended") {
        line->typed_address = true;
        line->code_type = address >> 28;
        line->address = address & 0x0FFFFFFF;
        line->width = width_of_code_type(line->code_type);
        if (line->width == 0)
            line->problem = "code type " + std::string(1, "0123456789ABCDEF"[line->code_type]) +
                            " is not a plain write";
    } else if (type == "double" || type == "beshort" || type == "beword" || type == "bedouble") {
        line->width = 0;
        line->problem = "type '" + type + "' is not supported";
    } else {
        line->kind = PATCH_LINE_MALFORMED;
        line->problem = "unknown type '" + type + "'";
        return;
    }
    for (char& ch : cpu)
        ch = lower(ch);
    if (cpu != "ee") {
        line->width = 0;
        line->problem = "processor '" + cpu + "' is not supported (only EE)";
    }
    if (line->width != 0) {
        std::string fit = fit_problem(line->width, line->address, value);
        if (!fit.empty()) {
            line->kind = PATCH_LINE_MALFORMED;
            line->problem = fit;
        }
    }
}

void parse_raw(PatchLine* line, Cursor* c) {
    line->kind = PATCH_LINE_MALFORMED;
    uint32_t code = 0;
    c->take_hex(&code, &line->address_at, &line->address_length);
    c->skip_blanks();
    uint32_t value = 0;
    if (!c->take_hex(&value, &line->value_at, &line->value_length) || line->value_length != 8) {
        line->problem = "bad RAW Code value (8 hexadecimal digits)";
        return;
    }
    if (!c->at_line_end()) {
        line->problem = "unexpected text after the value";
        return;
    }
    line->kind = PATCH_LINE_RAW;
    line->typed_address = true;
    line->code_type = code >> 28;
    line->address = code & 0x0FFFFFFF;
    line->value = value;
    line->width = width_of_code_type(line->code_type);
    if (line->width == 0) {
        line->problem = "code type " + std::string(1, "0123456789ABCDEF"[line->code_type]) +
                        " is not a plain write";
        return;
    }
    std::string fit = fit_problem(line->width, line->address, value);
    if (!fit.empty()) {
        line->kind = PATCH_LINE_MALFORMED;
        line->problem = fit;
    }
}

// True when the line starts (after blanks) with a name and '=' (gametitle=, author=, ...).
bool is_key_value(const std::string& text, size_t at) {
    size_t start = at;
    while (at < text.size() && (std::isalnum(static_cast<unsigned char>(text[at])) ||
                                text[at] == '_' || text[at] == '-' || text[at] == '.'))
        at++;
    while (at < text.size() && is_blank(text[at]))
        at++;
    return at > start && at < text.size() && text[at] == '=';
}

void classify(PatchLine* line) {
    line->kind = PATCH_LINE_TEXT;
    const std::string& text = line->text;
    if (text.find('\0') != std::string::npos) {
        line->kind = PATCH_LINE_MALFORMED;
        line->problem = "zero byte in the line";
        return;
    }
    Cursor c{text, 0};
    c.skip_blanks();
    if (c.done() || c.text.compare(c.at, 2, "//") == 0 || c.peek() == ';' || c.peek() == '#')
        return;
    if (c.peek() == '[') {
        if (text.find(']', c.at) == std::string::npos) {
            line->kind = PATCH_LINE_MALFORMED;
            line->problem = "section header without ']'";
        }
        return;
    }
    size_t start = c.at;
    if (c.take_word("patch")) {
        c.skip_blanks();
        if (c.peek() == '=') {
            parse_pnach(line, &c);
            return;
        }
        c.at = start;
    }
    // A RAW line starts with exactly eight digits and a blank; author=, description= and the
    // like begin with hexadecimal letters too, so the blank decides.
    size_t digits = 0;
    while (start + digits < text.size() && hex_digit(text[start + digits]) >= 0)
        digits++;
    if (digits == 8 && start + 8 < text.size() && is_blank(text[start + 8])) {
        parse_raw(line, &c);
        return;
    }
    if (is_key_value(text, start))
        return;
    line->kind = PATCH_LINE_MALFORMED;
    line->problem = "not a patch line, comment, section or key=value line";
}

// Writes `value` over the `length` digits at `at`; returns the number of digits written.
size_t write_hex(std::string* text, size_t at, size_t length, uint32_t value) {
    char digits[16];
    int n = std::snprintf(digits, sizeof digits, "%0*X", int(length), value);
    text->replace(at, length, digits, size_t(n));
    return size_t(n);
}

} // namespace

uint32_t patch_file_parse(const char* text, size_t size, PatchFile* file) {
    file->lines.clear();
    uint32_t malformed = 0;
    size_t at = 0;
    uint32_t number = 0;
    while (at < size) {
        const void* found = std::memchr(text + at, '\n', size - at);
        size_t end = found ? size_t(static_cast<const char*>(found) - text) : size;
        PatchLine line{};
        line.number = ++number;
        size_t content_end = end;
        if (found && content_end > at && text[content_end - 1] == '\r')
            content_end--;
        line.text.assign(text + at, content_end - at);
        line.ending.assign(text + content_end, found ? end + 1 - content_end : 0);
        classify(&line);
        if (line.kind == PATCH_LINE_MALFORMED)
            malformed++;
        file->lines.push_back(std::move(line));
        at = found ? end + 1 : size;
    }
    return malformed;
}

std::string patch_file_render(const PatchFile* file) {
    std::string text;
    for (const PatchLine& line : file->lines) {
        text += line.text;
        text += line.ending;
    }
    return text;
}

void patch_line_rewrite(PatchLine* line, uint32_t address, uint32_t value) {
    // The value stands after the address: writing it first keeps the address position valid.
    line->value_length = write_hex(&line->text, line->value_at, line->value_length, value);
    uint32_t field = address;
    if (line->typed_address)
        field = (line->code_type << 28) | (address & 0x0FFFFFFF);
    size_t length = write_hex(&line->text, line->address_at, line->address_length, field);
    line->value_at = line->value_at + length - line->address_length;
    line->address_length = length;
    line->address = address;
    line->value = value;
}

bool patch_line_key(const PatchLine* line, const char* key, size_t* value_at) {
    if (line->kind != PATCH_LINE_TEXT)
        return false;
    Cursor c{line->text, 0};
    c.skip_blanks();
    if (!c.take_word(key))
        return false;
    if (!c.take('='))
        return false;
    *value_at = c.at;
    return true;
}
