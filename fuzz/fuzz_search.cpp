// Arbitrary bytes as a whole search, split as [search length: 1 byte][replace length: 1 byte]
// [search text][replace text][ELF bytes] (lengths cut to what is there), through loading, every
// scan option and every format. Each scan is compared with the literal engine.
#include <algorithm>
#include <initializer_list>

#include "core/elf_image.h"
#include "core/match.h"
#include "core/match_fast.h"
#include "core/pattern.h"
#include "core/result_format.h"
#include "core/search_rules.h"
#include "fuzz_support.h"

namespace {

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

// The fast scan again with its work cut otherwise (tiny chunks, threads, no vector instructions),
// the cut taken from the input so that a failing input replays the same way.
void check_tuned_scan(const PatternList& search, const ElfImage* image, bool executable, bool swap,
                      uint32_t step, const Match* reference, uint32_t seed) {
    MatchFastTuning tuning{1 + (seed >> 3) % 3, 1 + seed % 7, bool((seed >> 5) & 1)};
    MatchList list{nullptr, nullptr};
    list.tail = &list.head;
    if (match_fast_find(image, executable, swap, step, search.count, search.values, search.masks,
                        &list, &tuning) == MATCH_FAST_DONE)
        fuzz_require(same_matches(list.head, reference),
                     "the fast scan with another division of work disagrees");
    free_matches(list.head);
}

void scan_every_way(const PatternList& search, const PatternList& replace, const ElfImage* image,
                    uint32_t seed) {
    for (bool executable : {true, false})
        for (bool swap : {false, true})
            for (uint32_t step : {1u, 2u, 4u}) {
                MatchList* list = find_matches(image, executable, swap, step, search.count,
                                               search.values, search.masks);
                if (list == nullptr)
                    continue; // out of memory, already released
                Match* fast = list->head;
                MatchList* literal = find_matches_reference(
                    image, executable, swap, step, search.count, search.values, search.masks);
                if (literal != nullptr) {
                    Match* reference = literal->head;
                    fuzz_require(same_matches(fast, reference),
                                 "the engine and the reference engine disagree");
                    check_tuned_scan(search, image, executable, swap, step, reference, seed);
                    free_matches(reference);
                }
                for (const Match* m = fast; m != nullptr; m = m->next)
                    fuzz_require(uint64_t(m->offset) + m->value->length <= image->size,
                                 "a match runs past the end of the file");
                for (ResultFormat format :
                     {FORMAT_ADDRESS, FORMAT_OFFSET, FORMAT_PNACH, FORMAT_RAW_CODE}) {
                    bool patch = format == FORMAT_PNACH || format == FORMAT_RAW_CODE;
                    // Patch formats only for lists that pass their checks, from word alignment.
                    if (!patch ||
                        (step == 4 && !search_check_patch_patterns(format, &search, &replace)))
                        render_and_check(search, replace, fast, image, swap, format);
                }
                free_matches(fast);
            }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
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
        if (search.count > 0)
            scan_every_way(search, replace, image, uint32_t((size - 2) * 2654435761u >> 7));
        pattern_list_free(&search);
        pattern_list_free(&replace);
        free_elf_image(image);
    }
    free(search_text);
    free(replace_text);
    return 0;
}
