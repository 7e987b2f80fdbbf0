// Patch files into patch_file_parse: whatever the bytes, the lines written back are the file
// byte for byte, numbered one after the other, and a patch line rewritten to another address
// and value reads back as that address and value, with the rest of the line unchanged.
#include <string>

#include "core/patch_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The text is copied so that ASan sees a read past its end.
    char* text = static_cast<char*>(malloc(size ? size : 1));
    memcpy(text, data, size);
    PatchFile file;
    uint32_t malformed = patch_file_parse(text, size, &file);
    fuzz_require(patch_file_render(&file) == std::string(text, size),
                 "the lines written back differ from the file");
    uint32_t counted = 0;
    for (size_t i = 0; i < file.lines.size(); i++) {
        const PatchLine& line = file.lines[i];
        fuzz_require(line.number == i + 1, "lines are not numbered one after the other");
        fuzz_require(line.text.find('\n') == std::string::npos, "a line holds a line feed");
        counted += line.kind == PATCH_LINE_MALFORMED;
        fuzz_require(line.kind != PATCH_LINE_MALFORMED || !line.problem.empty(),
                     "a malformed line without a reason");
        if (line.kind != PATCH_LINE_PNACH && line.kind != PATCH_LINE_RAW)
            continue;
        fuzz_require(line.address_at + line.address_length <= line.text.size() &&
                         line.value_at + line.value_length <= line.text.size(),
                     "a field outside its line");
        if (line.width == 0)
            continue;
        // Another address of the same alignment and a value that fits the width.
        uint32_t address = (line.address ^ 0x00ABCDE0u) & 0x0FFFFFFF;
        uint32_t value = line.value ^ (line.width == 4   ? 0x5A5A5A5Au
                                       : line.width == 2 ? 0x5A5Au
                                                         : 0x5Au);
        PatchLine changed = line;
        patch_line_rewrite(&changed, address, value);
        PatchFile again;
        patch_file_parse(changed.text.data(), changed.text.size(), &again);
        fuzz_require(again.lines.size() == 1 && again.lines[0].kind == line.kind,
                     "a rewritten line changed its kind");
        fuzz_require(again.lines[0].address == address && again.lines[0].value == value &&
                         again.lines[0].width == line.width,
                     "a rewritten line reads back differently");
        fuzz_require(changed.text.substr(changed.value_at + changed.value_length) ==
                         line.text.substr(line.value_at + line.value_length),
                     "a rewrite changed the text after the value");
    }
    fuzz_require(counted == malformed, "the malformed count is wrong");
    free(text);
    return 0;
}
