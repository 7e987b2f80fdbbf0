// Arbitrary bytes as a whole search, split as [setting: 2 bytes][search length: 1 byte]
// [replace length: 1 byte][search text][replace text][ELF bytes] (lengths cut to what is there),
// through loading, one scan and one format. The setting bytes choose the range, byte order,
// alignment and format, the way the fast scan is reached (find_matches, or a plan with its
// work and tables cut otherwise) and whether the list is multiplied into hundreds of derived
// patterns, so that the fuzzer explores each choice instead of paying for all of them on every
// input. Each scan is compared with the literal engine.
#include <algorithm>
#include <vector>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/match_fast.h"
#include "core/match_plan.h"
#include "core/pattern.h"
#include "core/result_format.h"
#include "core/search_rules.h"
#include "fuzz_support.h"

namespace {

// What the two setting bytes choose.
struct Setting {
    bool executable;
    bool swap;
    uint32_t step;
    ResultFormat format;
    bool planned;    // a plan with the limits and tuning below, else find_matches
    uint32_t copies; // 0, or derived patterns per pattern of the text
    MatchPlanLimits limits;
    MatchFastTuning tuning;
};

Setting setting_read(uint8_t a, uint8_t b) {
    static const ResultFormat formats[] = {FORMAT_ADDRESS, FORMAT_OFFSET, FORMAT_PNACH,
                                           FORMAT_RAW_CODE};
    Setting s{};
    s.executable = a & 1;
    s.swap = a & 2;
    s.step = 1u << std::min(2, (a >> 2) & 3);
    s.format = formats[(a >> 4) & 3];
    s.planned = a & 0x40;
    s.copies = a & 0x80 && (b & 0xC0) == 0xC0 ? 16u << (b & 3) : 0; // 16 to 128
    // Tight tables: few wildcard expansions, exact anchors only, no half words.
    s.limits = {b & 4 ? 1u + (b >> 5) * 7 : 0, bool(b & 8), bool(b & 16)};
    // Mostly on the calling thread: starting threads would cost more than the whole scan.
    uint32_t threads = (b >> 5) == 7 ? 2 + (b & 1) : 1;
    s.tuning = {threads, b & 2 ? 1u + (b >> 4) % 13 : 0, bool(b & 1)};
    return s;
}

void check_image(const ElfImage* image, const uint8_t* bytes, uint32_t size) {
    fuzz_require(image->size == size, "image size differs from the bytes given");
    fuzz_require(size == 0 || memcmp(image->data, bytes, size) == 0, "image data differs");
    uint32_t checksum = 0;
    for (uint32_t i = 0; i + 4 <= size; i += 4)
        checksum ^= uint32_t(bytes[i]) | uint32_t(bytes[i + 1]) << 8 |
                    uint32_t(bytes[i + 2]) << 16 | uint32_t(bytes[i + 3]) << 24;
    fuzz_require(image->checksum == checksum, "checksum differs");
    for (const RangeSet& set : image->ranges)
        for (uint32_t k = 0; k < set.count; k++)
            fuzz_require(set.file_size[k] == 0 ||
                             uint64_t(set.file_offset[k]) + set.file_size[k] <= size,
                         "a segment reaches past the file");
}

bool same_matches(const Match* a, const Match* b) {
    for (; a != nullptr && b != nullptr; a = a->next, b = b->next)
        if (a->value != b->value || a->mask != b->mask || a->address != b->address ||
            a->offset != b->offset)
            return false;
    return a == nullptr && b == nullptr;
}

void render_and_check(const PatternList& search, const PatternList& replace, const Match* head,
                      const ElfImage* image, bool swap, ResultFormat format) {
    ResultBuffer buffer;
    if (!result_buffer_init(&buffer))
        return;
    if (result_render(&buffer, &search, &replace, head, image, swap, format)) {
        fuzz_require(strlen(buffer.text) == buffer.length, "result length is not the text's");
        fuzz_require(buffer.length < buffer.capacity, "result text overruns its capacity");
        fuzz_require(head != nullptr || strcmp(buffer.text, "No matches found") == 0,
                     "an empty scan must read \"No matches found\"");
    }
    result_buffer_free(&buffer);
}

// Copies of each pattern with some fixed nibbles turned (by the copy's number) and some made
// wildcards: lists large enough for the plan's big-list paths, sharing anchors and halves.
PatternList derive_patterns(const PatternList& search, uint32_t copies) {
    PatternList out{0, nullptr, nullptr};
    uint32_t total = search.count * copies;
    out.values = static_cast<PatternRecord**>(malloc(sizeof(PatternRecord*) * total));
    out.masks = static_cast<PatternRecord**>(malloc(sizeof(PatternRecord*) * total));
    for (uint32_t i = 0; i < search.count; i++) {
        const PatternRecord* v = search.values[i];
        size_t bytes = (v->length + 3) / 4 * 4;
        for (uint32_t c = 0; c < copies; c++) {
            auto* value = static_cast<PatternRecord*>(malloc(sizeof(PatternRecord) + bytes));
            auto* mask = static_cast<PatternRecord*>(malloc(sizeof(PatternRecord) + bytes));
            memcpy(value, v, sizeof(PatternRecord) + bytes);
            memcpy(mask, search.masks[i], sizeof(PatternRecord) + bytes);
            auto* vb = reinterpret_cast<uint8_t*>(value->words);
            auto* mb = reinterpret_cast<uint8_t*>(mask->words);
            uint32_t n = (c * 7) % v->length;
            vb[n ^ 3] ^= uint8_t(c >> 3);
            if (c % 3 == 1)
                mb[((n + 1) % v->length) ^ 3] &= c % 2 ? 0xF0 : 0x0F;
            out.values[out.count] = value;
            out.masks[out.count++] = mask;
        }
    }
    return out;
}

// One scan in the chosen way, compared with the literal engine; the list in the chosen format.
void scan_once(const PatternList& search, const PatternList& replace, const ElfImage* image,
               const Setting& s, bool render) {
    Match* fast = nullptr;
    if (s.planned) {
        MatchPlan* plan = match_plan_build_limited(s.swap, s.step, search.count, search.values,
                                                   search.masks, &s.limits);
        if (plan == nullptr)
            return; // out of memory
        MatchList list{nullptr, nullptr};
        list.tail = &list.head;
        int result = match_plan_find(plan, image, s.executable, &list, &s.tuning);
        match_plan_free(plan);
        if (result != MATCH_FAST_DONE)
            return; // out of memory, already released
        fast = list.head;
    } else {
        MatchList* list = find_matches(image, s.executable, s.swap, s.step, search.count,
                                       search.values, search.masks);
        if (list == nullptr)
            return; // out of memory, already released
        fast = list->head;
    }
    MatchList* literal = find_matches_reference(image, s.executable, s.swap, s.step, search.count,
                                                search.values, search.masks);
    if (literal != nullptr) {
        fuzz_require(same_matches(fast, literal->head),
                     "the engine and the reference engine disagree");
        free_matches(literal->head);
    }
    for (const Match* m = fast; m != nullptr; m = m->next)
        fuzz_require(uint64_t(m->offset) + m->value->length <= image->size,
                     "a match runs past the end of the file");
    bool patch = s.format == FORMAT_PNACH || s.format == FORMAT_RAW_CODE;
    // Patch formats only for lists that pass their checks, from word alignment.
    if (render &&
        (!patch || (s.step == 4 && !search_check_patch_patterns(s.format, &search, &replace))))
        render_and_check(search, replace, fast, image, s.swap, s.format);
    free_matches(fast);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4)
        return 0;
    Setting setting = setting_read(data[0], data[1]);
    data += 2;
    size -= 2;
    size_t search_size = std::min<size_t>(data[0], size - 2);
    size_t replace_size = std::min<size_t>(data[1], size - 2 - search_size);
    const uint8_t* elf = data + 2 + search_size + replace_size;
    uint32_t elf_size = uint32_t(size - 2 - search_size - replace_size);
    char* search_text = fuzz_copy_text(data + 2, search_size);
    char* replace_text = fuzz_copy_text(data + 2 + search_size, replace_size);
    // An exact-size heap copy: any read past the file is a read past the block.
    uint8_t* bytes = static_cast<uint8_t*>(malloc(elf_size ? elf_size : 1));
    memcpy(bytes, elf, elf_size);
    if (ElfImage* image = elf_image_from_bytes(bytes, elf_size)) { // it owns `bytes` now
        check_image(image, elf, elf_size);
        PatternList search{}, replace{};
        pattern_list_parse(search_text, &search);
        pattern_list_parse(replace_text, &replace);
        // Derived lists on small files only: a list of dozens of wildcard patterns may match
        // at every word, and each match costs both engines a record.
        if (search.count > 0 && setting.copies > 0 && elf_size <= 512) {
            // The literal engine's cost and the per-word compares of a plan with tight tables
            // grow with the list: keep it just past the size (64) at which planning starts to
            // count the patterns' words.
            uint32_t copies = std::min<uint32_t>(setting.copies, 80 / search.count + 1);
            // Chunks of a few words times dozens of per-word compares of a tight plan cost
            // more than the rest together; short lists reach the tiny chunks.
            setting.tuning.chunk_words *= 16;
            PatternList derived = derive_patterns(search, copies);
            scan_once(derived, replace, image, setting, false);
            pattern_list_free(&derived);
        } else if (search.count > 0) {
            scan_once(search, replace, image, setting, true);
        }
        pattern_list_free(&search);
        pattern_list_free(&replace);
        free_elf_image(image);
    }
    free(search_text);
    free(replace_text);
    return 0;
}
