// Masked signatures over MIPS code and data.
#include "core/mips_signature.h"

#include <algorithm>
#include <cstdlib>

#include "core/match_plan.h"

namespace {

uint32_t word_at(const ImageCopy* copy, uint32_t offset) {
    const uint8_t* p = copy->data.data() + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Instructions whose 16-bit immediate is added to register rs: the low half of an address
// when rs was loaded by lui.
bool adds_immediate_to_rs(uint32_t op) {
    switch (op) {
    case 8:  // addi
    case 9:  // addiu
    case 13: // ori
    case 26: // ldl
    case 27: // ldr
    case 30: // lq
    case 31: // sq
    case 32: // lb
    case 33: // lh
    case 34: // lwl
    case 35: // lw
    case 36: // lbu
    case 37: // lhu
    case 38: // lwr
    case 39: // lwu
    case 40: // sb
    case 41: // sh
    case 42: // swl
    case 43: // sw
    case 44: // sdl
    case 45: // sdr
    case 46: // swr
    case 49: // lwc1
    case 53: // ldc1
    case 55: // ld
    case 57: // swc1
    case 61: // sdc1
    case 63: // sd
        return true;
    default:
        return false;
    }
}

// How far back a lui is looked for: compilers keep the upper half in a register for a while,
// and masking an immediate too many only makes a signature a little longer.
const uint32_t LUI_LOOK_BACK = 16;

struct Candidate {
    uint32_t anchor; // file offset of the word that stands where the place's word stands
    uint32_t low;    // first offset a signature word may have in its segment
    uint32_t end;    // end of its segment
};

uint32_t floor4(uint32_t x) {
    return x & ~3u;
}

// Every word position of a range set, sorted by its word under `mask`: the places where a
// signature's first word matches are then found without reading the whole image each time.
const std::vector<ImageCopy::IndexEntry>& masked_index(const ImageCopy* copy, uint32_t set,
                                                       uint32_t mask) {
    uint64_t key = uint64_t(set) << 32 | mask;
    auto found = copy->masked_words.find(key);
    if (found != copy->masked_words.end())
        return found->second;
    std::vector<ImageCopy::IndexEntry>& index = copy->masked_words[key];
    const RangeSet& ranges = copy->image.ranges[set];
    for (uint32_t k = 0; k < ranges.count; k++) {
        uint32_t low = floor4(ranges.file_offset[k]);
        uint32_t end = ranges.file_offset[k] + ranges.file_size[k];
        for (uint32_t p = low; uint64_t(p) + 4 <= end; p += 4)
            index.push_back({word_at(copy, p) & mask, p, k});
    }
    std::sort(index.begin(), index.end(),
              [](const ImageCopy::IndexEntry& a, const ImageCopy::IndexEntry& b) {
                  return a.masked != b.masked ? a.masked < b.masked : a.offset < b.offset;
              });
    return index;
}

} // namespace

bool mips_adds_immediate(uint32_t word) {
    return adds_immediate_to_rs(word >> 26);
}

uint32_t signature_word_mask(const ImageCopy* copy, bool executable, uint32_t segment_start,
                             uint32_t offset) {
    uint32_t word = word_at(copy, offset);
    if (!executable)
        return word >= copy->span_low && word < copy->span_high ? 0 : 0xFFFFFFFFu;
    uint32_t op = word >> 26;
    if (op == 2 || op == 3) // j, jal
        return 0xFC000000u;
    if (op == 15) // lui
        return 0xFFFF0000u;
    if (adds_immediate_to_rs(op)) {
        uint32_t rs = (word >> 21) & 31;
        for (uint32_t back = 1; back <= LUI_LOOK_BACK; back++) {
            if (offset < floor4(segment_start) + 4 * back)
                break;
            uint32_t earlier = word_at(copy, offset - 4 * back);
            if (earlier >> 26 == 15 && ((earlier >> 16) & 31) == rs)
                return 0xFFFF0000u;
        }
    }
    return 0xFFFFFFFFu;
}

// The places a branch or a j of the code can go to.
static bool branch_target(uint32_t word, uint32_t address, uint32_t* target) {
    uint32_t op = word >> 26, rt = (word >> 16) & 31, rs = (word >> 21) & 31;
    bool branch = (op >= 4 && op <= 7) || (op >= 20 && op <= 23) ||
                  (op == 1 && (rt <= 3 || (rt >= 16 && rt <= 19))) || (op == 17 && rs == 8);
    if (branch) {
        *target = address + 4 + (uint32_t(int32_t(int16_t(word & 0xFFFFu))) << 2);
        return true;
    }
    if (op == 2) {
        *target = ((address + 4) & 0xF0000000u) | (word & 0x03FFFFFFu) << 2;
        return true;
    }
    return false;
}

std::vector<uint32_t> mips_code_entries(const ImageCopy* copy) {
    std::vector<uint32_t> entries, jumped, after_return;
    const RangeSet& code = copy->image.ranges[0];
    auto add = [&](std::vector<uint32_t>* list, uint32_t target) {
        ImagePlace place;
        if ((target & 3) == 0 && image_place_find(&copy->image, target, 4, &place) &&
            place.executable)
            list->push_back(target);
    };
    const uint32_t jr_ra = 0x03E00008u;
    // The entry point in the ELF header, and the first word of each code segment.
    const std::vector<uint8_t>& bytes = copy->data;
    if (bytes.size() >= 28 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' &&
        bytes[3] == 'F')
        add(&entries, word_at(copy, 24));
    for (uint32_t k = 0; k < code.count; k++) {
        uint32_t low = floor4(code.file_offset[k]);
        uint32_t end = code.file_offset[k] + code.file_size[k];
        if ((code.file_offset[k] & 3) == 0)
            add(&entries, code.file_offset[k] + code.address_delta[k]);
        for (uint32_t p = low; uint64_t(p) + 4 <= end; p += 4) {
            uint32_t word = word_at(copy, p);
            uint32_t op = word >> 26;
            uint32_t address = p + code.address_delta[k], target = 0;
            if (op == 3) {
                add(&entries, ((address + 4) & 0xF0000000u) | (word & 0x03FFFFFFu) << 2);
            } else if (branch_target(word, address, &target)) {
                add(&jumped, target);
            } else if (word == jr_ra) {
                // Past the delay slot and any padding.
                uint32_t q = p + 8;
                while (uint64_t(q) + 4 <= end && word_at(copy, q) == 0)
                    q += 4;
                if (uint64_t(q) + 4 <= end)
                    after_return.push_back(q + code.address_delta[k]);
            } else if (op == 15) {
                uint32_t rt = (word >> 16) & 31;
                for (uint32_t ahead = 1; ahead <= LUI_LOOK_BACK; ahead++) {
                    if (uint64_t(p) + 4 * ahead + 4 > end)
                        break;
                    uint32_t later = word_at(copy, p + 4 * ahead);
                    uint32_t later_op = later >> 26;
                    if ((later_op == 9 || later_op == 13) && ((later >> 21) & 31) == rt) {
                        uint32_t high = word << 16;
                        uint32_t low_half = later & 0xFFFFu;
                        add(&entries, later_op == 9 ? high + uint32_t(int32_t(int16_t(low_half)))
                                                    : high | low_half);
                        break;
                    }
                    if (later_op == 15 && ((later >> 16) & 31) == rt)
                        break;
                }
            }
        }
    }
    // Words of the other segments that point into the code: jump tables and function tables.
    const RangeSet& data = copy->image.ranges[1];
    for (uint32_t k = 0; k < data.count; k++) {
        uint32_t low = floor4(data.file_offset[k]);
        uint32_t end = data.file_offset[k] + data.file_size[k];
        for (uint32_t p = low; uint64_t(p) + 4 <= end; p += 4)
            add(&jumped, word_at(copy, p));
    }
    // Nothing runs on past a return: the code after it is reached by a jump only. A block no
    // branch, j or table reaches is the start of a function (perhaps one nothing calls); one a
    // branch reaches may be a cold part of the function before, so it is not taken.
    std::sort(jumped.begin(), jumped.end());
    for (uint32_t start : after_return) {
        if (!std::binary_search(jumped.begin(), jumped.end(), start))
            entries.push_back(start);
    }
    std::sort(entries.begin(), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    return entries;
}

Signature signature_grow(const ImageCopy* copy, const ImagePlace* place, SignatureSide side,
                         uint32_t min_words) {
    const ElfImage& image = copy->image;
    uint32_t set = place->executable ? 0 : 1;
    const RangeSet& ranges = image.ranges[set];
    uint32_t own_low = floor4(ranges.file_offset[place->segment]);
    uint32_t own_end = ranges.file_offset[place->segment] + ranges.file_size[place->segment];
    uint32_t word = floor4(place->offset);

    Signature s{side, 0, 0, {}, {}, false};
    auto mask_of = [&](uint32_t offset) {
        return signature_word_mask(copy, place->executable, ranges.file_offset[place->segment],
                                   offset);
    };
    uint32_t v0 = word_at(copy, word);
    uint32_t m0 = mask_of(word);
    s.values.push_back(v0);
    s.masks.push_back(m0);

    std::vector<Candidate> candidates;
    const std::vector<ImageCopy::IndexEntry>& index = masked_index(copy, set, m0);
    auto first =
        std::lower_bound(index.begin(), index.end(), v0 & m0,
                         [](const ImageCopy::IndexEntry& e, uint32_t v) { return e.masked < v; });
    for (auto it = first; it != index.end() && it->masked == (v0 & m0); ++it) {
        uint32_t low = floor4(ranges.file_offset[it->segment]);
        uint32_t end = ranges.file_offset[it->segment] + ranges.file_size[it->segment];
        candidates.push_back({it->offset, low, end});
    }

    auto can_grow_before = [&] {
        return s.before < SIGNATURE_MAX_SIDE && word >= own_low + 4 * (s.before + 1);
    };
    auto can_grow_after = [&] {
        return s.after < SIGNATURE_MAX_SIDE && uint64_t(word) + 4 * (s.after + 2) <= own_end;
    };
    // Adds one word on one side and keeps the candidates that still match.
    auto grow = [&](bool front) {
        uint32_t distance = 4 * (front ? s.before + 1 : s.after + 1);
        uint32_t offset = front ? word - distance : word + distance;
        uint32_t value = word_at(copy, offset);
        uint32_t mask = mask_of(offset);
        if (front) {
            s.values.insert(s.values.begin(), value);
            s.masks.insert(s.masks.begin(), mask);
            s.before++;
        } else {
            s.values.push_back(value);
            s.masks.push_back(mask);
            s.after++;
        }
        // A place where the signature would run off its segment stays a candidate: the
        // words that are there match, and a signature that is unique only because the others
        // lack room (zeros at the end of a segment) says nothing about its own place.
        size_t kept = 0;
        for (const Candidate& c : candidates) {
            bool inside =
                front ? c.anchor >= c.low + distance : uint64_t(c.anchor) + distance + 4 <= c.end;
            uint32_t at = front ? c.anchor - distance : c.anchor + distance;
            if (!inside || (word_at(copy, at) & mask) == (value & mask))
                candidates[kept++] = c;
        }
        candidates.resize(kept);
    };

    for (;;) {
        uint32_t words = s.before + s.after + 1;
        if (candidates.size() <= 1 && words >= min_words)
            break;
        bool grew = false;
        if (side == SIGNATURE_BEFORE || (side == SIGNATURE_AROUND && s.before <= s.after)) {
            if (can_grow_before()) {
                grow(true);
                grew = true;
            }
        }
        if (!grew && side != SIGNATURE_BEFORE && can_grow_after()) {
            grow(false);
            grew = true;
        }
        if (!grew && side == SIGNATURE_AROUND && can_grow_before()) {
            grow(true);
            grew = true;
        }
        if (!grew)
            break;
    }
    s.unique = candidates.size() == 1;
    return s;
}

int signature_find_many(const ElfImage* image, bool executable,
                        const std::vector<const Signature*>& signatures,
                        std::vector<std::vector<uint32_t>>* addresses) {
    uint32_t count = uint32_t(signatures.size());
    addresses->assign(count, {});
    if (count == 0)
        return 1;
    std::vector<PatternRecord*> values(count, nullptr), masks(count, nullptr);
    bool allocated = true;
    for (uint32_t i = 0; i < count; i++) {
        const Signature* signature = signatures[i];
        uint32_t words = uint32_t(signature->values.size());
        size_t bytes = sizeof(PatternRecord) + 4 * size_t(words);
        values[i] = static_cast<PatternRecord*>(std::malloc(bytes));
        masks[i] = static_cast<PatternRecord*>(std::malloc(bytes));
        if (!values[i] || !masks[i]) {
            allocated = false;
            break;
        }
        values[i]->length = masks[i]->length = 4 * words;
        for (uint32_t g = 0; g < words; g++) {
            // "Big" order: a written word equals the file's little-endian word.
            values[i]->words[g] = signature->values[g] & signature->masks[g];
            masks[i]->words[g] = signature->masks[g];
        }
    }
    int ok = 0;
    // One scan for all of them: setting a scan up costs more than the scan of a small image.
    MatchPlan* plan =
        allocated ? match_plan_build(false, 4, count, values.data(), masks.data()) : nullptr;
    if (plan) {
        MatchList list{nullptr, nullptr};
        list.tail = &list.head;
        MatchFastTuning tuning{1, 0, false};
        if (match_plan_find(plan, image, executable, &list, &tuning) == MATCH_FAST_DONE) {
            for (const Match* m = list.head; m; m = m->next) {
                for (uint32_t i = 0; i < count; i++) {
                    if (m->value == values[i])
                        (*addresses)[i].push_back(m->address + 4 * signatures[i]->before);
                }
            }
            ok = 1;
        }
        free_matches(list.head);
        match_plan_free(plan);
    }
    for (uint32_t i = 0; i < count; i++) {
        std::free(values[i]);
        std::free(masks[i]);
    }
    return ok;
}

int signature_find(const ElfImage* image, bool executable, const Signature* signature,
                   std::vector<uint32_t>* addresses) {
    std::vector<std::vector<uint32_t>> found;
    if (!signature_find_many(image, executable, {signature}, &found))
        return 0;
    addresses->insert(addresses->end(), found[0].begin(), found[0].end());
    return 1;
}
