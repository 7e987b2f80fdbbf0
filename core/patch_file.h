// Patch files as emulators read them: PNACH lines (patch=P,EE,ADDRESS,TYPE,VALUE), RAW Code
// lines (TAAAAAAA VVVVVVVV) and everything around them (comments, [sections], key=value
// lines), kept line by line so that a tool can rewrite some lines and give back the rest as
// the user wrote it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum PatchLineKind : uint32_t {
    PATCH_LINE_TEXT = 0,      // blank, comment, [section], key=value: kept as it is
    PATCH_LINE_PNACH = 1,     // patch=P,EE,ADDRESS,TYPE,VALUE
    PATCH_LINE_RAW = 2,       // TAAAAAAA VVVVVVVV
    PATCH_LINE_MALFORMED = 3, // meant as a patch line, or not understood at all; see `problem`
};

// One line of a patch file. For PNACH and RAW lines the fields after `kind` describe the write;
// `width` is 0 when the line is well formed but writes something other than a plain byte,
// short or word (an extended code type other than 0, 1 and 2).
struct PatchLine {
    uint32_t number;    // 1 for the first line of the file
    std::string text;   // the line without its line end
    std::string ending; // "\n", "\r\n" or "" (the last line of a file without a final line end)
    PatchLineKind kind;
    uint32_t place;     // PNACH: the P of patch=P (0 once, 1 continuously, 2 ...); RAW: 0
    bool typed_address; // the address field holds the code type digit (extended, RAW)
    uint32_t code_type; // the RAW Code type digit (byte 0, short 1, word 2, others kept)
    uint32_t address;   // the address written to
    uint32_t width;     // bytes written: 1, 2 or 4; 0 for an unsupported code type
    uint32_t value;     // the value written (only the low `width` bytes are used)
    // Where the address and the value digits stand in `text`, so that a rewrite changes them
    // and nothing else. For extended and RAW lines the address field holds the type digit too.
    size_t address_at, address_length;
    size_t value_at, value_length;
    std::string problem; // MALFORMED: why, e.g. "unknown type 'dword'"
};

struct PatchFile {
    std::vector<PatchLine> lines;
};

// Splits `text` (`size` bytes, zero bytes allowed: they make their line malformed) into lines
// and classifies each one. A malformed line never stops the lines after it.
// Returns the number of malformed lines.
uint32_t patch_file_parse(const char* text, size_t size, PatchFile* file);

// The lines written back one after the other, each with its own line end.
std::string patch_file_render(const PatchFile* file);

// Rewrites the address and the value of a PNACH or RAW line in place, keeping the code type
// digit and everything else of the line. The digits are written in upper case and as many as
// the old field had (more when the number needs them).
void patch_line_rewrite(PatchLine* line, uint32_t address, uint32_t value);

// For a key=value line ("gametitle=..."): true when its key is `key` (case ignored), with
// *value_at set to where the value begins.
bool patch_line_key(const PatchLine* line, const char* key, size_t* value_at);
