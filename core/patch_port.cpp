// Porting patch lines between two builds.
#include "core/patch_port.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "core/mips_signature.h"

namespace {

// The places of the signatures alone. *reach_before and *reach_after receive how many words
// before and after the address's word the usable signatures cover.
PortPlace place_by_signatures(const ImageCopy* old_copy, const ImageCopy* new_copy,
                              uint32_t address, uint32_t width, bool entry, uint32_t* reach_before,
                              uint32_t* reach_after) {
    *reach_before = *reach_after = 0;
    PortPlace result{PORT_NOT_IN_FILE, 0, 0};
    ImagePlace place;
    if (!image_place_find(&old_copy->image, address, width, &place))
        return result;
    uint32_t inside_word = place.offset & 3;
    bool have = false, none = false, disagree = false;
    uint32_t agreed = 0, usable = 0, most = 0;
    std::vector<Signature> signatures;
    if (entry) {
        signatures.push_back(signature_grow(old_copy, &place, SIGNATURE_AFTER, 1));
        uint32_t words = uint32_t(signatures[0].values.size());
        signatures.push_back(signature_grow(old_copy, &place, SIGNATURE_AFTER, 2 * words + 1));
    } else {
        for (SignatureSide side : {SIGNATURE_BEFORE, SIGNATURE_AFTER, SIGNATURE_AROUND})
            signatures.push_back(signature_grow(old_copy, &place, side, 1));
    }
    std::vector<const Signature*> usable_signatures;
    for (const Signature& signature : signatures) {
        if (signature.unique)
            usable_signatures.push_back(&signature);
    }
    std::vector<std::vector<uint32_t>> all_found;
    if (!signature_find_many(&new_copy->image, place.executable, usable_signatures, &all_found))
        all_found.assign(usable_signatures.size(), {});
    for (size_t i = 0; i < usable_signatures.size(); i++) {
        Signature signature = *usable_signatures[i];
        usable++;
        std::vector<uint32_t> found = all_found[i];
        // A signature unique in the old build may still fit several places in the new one,
        // which has more code that looks alike: more words, all of them still unique in the
        // old build, tell the places apart or show that they cannot be. An entry point is
        // seen from one side only: growing its signature past the end of its function would
        // pick, of a function and its copy, the one followed by what followed the original,
        // which is the copy when the copy comes right after.
        while (found.size() > 1 && !entry) {
            size_t words = signature.values.size();
            Signature longer =
                signature_grow(old_copy, &place, signature.side, uint32_t(words + (words + 1) / 2));
            if (longer.values.size() <= words)
                break;
            signature = longer;
            found.clear();
            if (!signature_find(&new_copy->image, place.executable, &signature, &found))
                found.clear();
        }
        *reach_before = signature.before > *reach_before ? signature.before : *reach_before;
        *reach_after = signature.after > *reach_after ? signature.after : *reach_after;
        if (found.size() > 1) {
            most = found.size() > most ? uint32_t(found.size()) : most;
        } else if (found.empty()) {
            none = true;
        } else if (have && found[0] != agreed) {
            disagree = true;
        } else {
            agreed = found[0];
            have = true;
        }
    }
    if (usable == 0) {
        result.status = PORT_NO_SIGNATURE;
    } else if (most > 1) {
        result.status = PORT_AMBIGUOUS;
        result.places = most;
    } else if (!have) {
        result.status = PORT_NOT_FOUND;
    } else if (none || disagree) {
        result.status = PORT_DISAGREE;
    } else {
        ImagePlace check;
        uint32_t moved = agreed + inside_word;
        if (image_place_find(&new_copy->image, moved, width, &check) &&
            check.executable == place.executable) {
            result.status = PORT_OK;
            result.address = moved;
        } else {
            result.status = PORT_NOT_FOUND;
        }
    }
    return result;
}

// Where the words at `address` of the old build went, on their own (no order check); the
// answers are kept, as the neighbours of nearby lines are asked for again and again.
struct PlaceCache {
    std::map<uint32_t, PortPlace> places;
    bool entries_known = false;
    std::vector<uint32_t> old_entries, new_entries; // mips_code_entries of each build
};

PortPlace anchor_place(const ImageCopy* old_copy, const ImageCopy* new_copy, uint32_t address,
                       PlaceCache* cache) {
    auto found = cache->places.find(address);
    if (found != cache->places.end())
        return found->second;
    uint32_t before = 0, after = 0;
    PortPlace place = place_by_signatures(old_copy, new_copy, address, 4, false, &before, &after);
    cache->places[address] = place;
    return place;
}

// How far the function that holds the word at `word` reaches before and after it, in words:
// functions end in jr $ra and its delay slot. Counted up to `limit` words each way.
void function_reach(const ImageCopy* copy, uint32_t low, uint64_t end, uint32_t word,
                    uint32_t limit, uint32_t* before, uint32_t* after) {
    const uint32_t jr_ra = 0x03E00008u;
    auto word_at = [&](uint32_t offset) {
        const uint8_t* p = copy->data.data() + offset;
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    };
    *before = 0;
    // The word after a jr $ra is its delay slot, still part of the function.
    for (uint32_t n = 2; n <= limit && word >= low + 4 * n; n++) {
        if (word_at(word - 4 * n) == jr_ra) {
            *before = n - 2;
            break;
        }
        *before = n;
    }
    *after = 0;
    for (uint32_t n = 0; n <= limit && word + 4 * uint64_t(n) + 4 <= end; n++) {
        if (word_at(word + 4 * n) == jr_ra) {
            *after = n + 1;
            break;
        }
        *after = n;
    }
}

// Builds keep the order of their functions and data: what stood before a place and what stood
// after it stay on their sides of its new place. A place whose neighbours went to the wrong
// side is code the new build holds twice, once as it was (an old version kept under another
// name, a copy) and once changed where it belongs. Words at growing distances beyond the
// signatures, and in code beyond the function, are ported on their own and vote: the place
// stands when more of them keep their side than not. A single neighbour may itself have gone
// to a kept old version far away; the others outvote it.
bool order_holds(const ImageCopy* old_copy, const ImageCopy* new_copy, uint32_t address,
                 uint32_t moved, uint32_t reach_before, uint32_t reach_after, PlaceCache* cache) {
    ImagePlace place;
    if (!image_place_find(&old_copy->image, address, 1, &place))
        return true;
    const RangeSet& ranges = old_copy->image.ranges[place.executable ? 0 : 1];
    uint32_t low = ranges.file_offset[place.segment] & ~3u;
    uint64_t end = uint64_t(ranges.file_offset[place.segment]) + ranges.file_size[place.segment];
    uint32_t delta = ranges.address_delta[place.segment];
    uint32_t word = place.offset & ~3u;
    if (place.executable) {
        uint32_t before = 0, after = 0;
        function_reach(old_copy, low, end, word, 4096, &before, &after);
        reach_before = before > reach_before ? before : reach_before;
        reach_after = after > reach_after ? after : reach_after;
    }
    // A neighbour keeps its side when it also stays near: what a new build inserts between
    // two places seldom more than doubles the distance between them.
    auto near = [](uint64_t old_distance, uint64_t new_distance) {
        return new_distance <= 2 * old_distance + 1024;
    };
    static const uint32_t steps[] = {1, 16, 64, 256};
    uint32_t kept = 0, crossed = 0;
    uint32_t moved_word = moved & ~3u;
    for (uint32_t step : steps) {
        uint64_t distance = 4 * uint64_t(reach_before + step);
        if (word >= low + distance) {
            PortPlace anchor =
                anchor_place(old_copy, new_copy, uint32_t(word - distance) + delta, cache);
            if (anchor.status == PORT_OK) {
                bool ok =
                    anchor.address < moved_word && near(distance, moved_word - anchor.address);
                (ok ? kept : crossed)++;
            }
        }
        distance = 4 * uint64_t(reach_after + step);
        if (word + distance + 4 <= end) {
            PortPlace anchor =
                anchor_place(old_copy, new_copy, uint32_t(word + distance) + delta, cache);
            if (anchor.status == PORT_OK) {
                bool ok =
                    anchor.address > moved_word && near(distance, anchor.address - moved_word);
                (ok ? kept : crossed)++;
            }
        }
    }
    return crossed == 0 || kept > crossed;
}

// Signatures and order say where the words around a line went, not that its function is
// still the same up to it: a function that gained instructions before the line can keep the
// very words around it, and the line would land at another distance from its function's
// start than before. So a word of code moves only when the function start the new build
// shows nearest before the new place (mips_code_entries) is no farther than the one the old
// build shows before the line, and every word from that distance before the line up to it
// agrees with the new build's under the signature masks. A start the old build shows nearer
// (a function that grew before the line) leaves the line; where a function's own start is
// not seen, the run reaches back into the functions before it, which must match as well.
bool function_prefix_holds(const ImageCopy* old_copy, const ImageCopy* new_copy, uint32_t address,
                           uint32_t moved, PlaceCache* cache) {
    ImagePlace place;
    if (!image_place_find(&old_copy->image, address, 1, &place) || !place.executable)
        return true;
    if (!cache->entries_known) {
        cache->old_entries = mips_code_entries(old_copy);
        cache->new_entries = mips_code_entries(new_copy);
        cache->entries_known = true;
    }
    uint32_t word = address & ~3u, moved_word = moved & ~3u;
    auto nearest = [](const std::vector<uint32_t>& entries, uint32_t at, uint32_t* distance) {
        auto after = std::upper_bound(entries.begin(), entries.end(), at);
        if (after == entries.begin())
            return false;
        *distance = at - *(after - 1);
        return true;
    };
    uint32_t old_distance = 0, distance = 0;
    if (!nearest(cache->new_entries, moved_word, &distance))
        return false;
    if (nearest(cache->old_entries, word, &old_distance) && old_distance < distance)
        return false;
    if (distance == 0)
        return true;
    if (word < distance)
        return false;
    uint32_t entry = word - distance, new_entry = moved_word - distance;
    ImagePlace old_run, new_run;
    if (!image_place_find(&old_copy->image, entry, distance, &old_run) || !old_run.executable ||
        !image_place_find(&new_copy->image, new_entry, distance, &new_run) || !new_run.executable)
        return false;
    uint32_t old_start = old_copy->image.ranges[0].file_offset[old_run.segment];
    uint32_t new_start = new_copy->image.ranges[0].file_offset[new_run.segment];
    // A register a lui set earlier in the function may be added to much later: those
    // immediates are masked as well.
    uint32_t lui_registers = 0;
    for (uint32_t at = 0; at < distance; at += 4) {
        uint32_t a = old_run.offset + at, b = new_run.offset + at;
        const uint8_t* p = old_copy->data.data() + a;
        const uint8_t* q = new_copy->data.data() + b;
        uint32_t x =
            uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        uint32_t y =
            uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 | uint32_t(q[3]) << 24;
        uint32_t mask = signature_word_mask(old_copy, true, old_start, a) &
                        signature_word_mask(new_copy, true, new_start, b);
        if (mips_adds_immediate(x) && (lui_registers >> ((x >> 21) & 31) & 1))
            mask &= 0xFFFF0000u;
        if (x >> 26 == 15)
            lui_registers |= 1u << ((x >> 16) & 31);
        if ((x & mask) != (y & mask))
            return false;
    }
    return true;
}

PortPlace port_address_cached(const ImageCopy* old_copy, const ImageCopy* new_copy,
                              uint32_t address, uint32_t width, bool entry, PlaceCache* cache) {
    uint32_t before = 0, after = 0;
    PortPlace place =
        place_by_signatures(old_copy, new_copy, address, width, entry, &before, &after);
    if (place.status == PORT_OK &&
        !order_holds(old_copy, new_copy, address, place.address, before, after, cache)) {
        place.status = PORT_OUT_OF_ORDER;
        place.address = 0;
    } else if (place.status == PORT_OK && !entry &&
               !function_prefix_holds(old_copy, new_copy, address, place.address, cache)) {
        place.status = PORT_CHANGED;
        place.address = 0;
    }
    return place;
}

} // namespace

namespace {

// What happens to the value of a line whose value holds an address.
struct ValueFix {
    bool changed;
    uint32_t value;
    bool failed;
    std::string why;
    bool jump;            // a j or jal: its target must stay in the 256 MiB region of the line
    uint32_t jump_target; // the new target
};

std::string hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

std::string place_problem(const PortPlace& place) {
    std::string text = port_status_text(place.status);
    if (place.status == PORT_AMBIGUOUS)
        text += ": " + std::to_string(place.places) + " places";
    return text;
}

bool is_code_word_line(const ImageCopy* old_copy, const PatchLine& line) {
    ImagePlace place;
    return line.width == 4 && image_place_find(&old_copy->image, line.address, 4, &place) &&
           place.executable;
}

bool in_span(const ImageCopy* copy, uint32_t address) {
    return address >= copy->span_low && address < copy->span_high;
}

// Carries an address that a value holds over to the new build. `executable`: it must be code.
bool port_target(const ImageCopy* old_copy, const ImageCopy* new_copy, uint32_t target,
                 bool executable, uint32_t* moved, std::string* why, PlaceCache* cache) {
    ImagePlace place;
    if (!image_place_find(&old_copy->image, target, 1, &place) ||
        (executable && !place.executable)) {
        *why = "it points at " + hex8(target) +
               (executable ? ", outside the code in the file" : ", outside the file");
        return false;
    }
    PortPlace ported = port_address_cached(old_copy, new_copy, target, 1, true, cache);
    if (ported.status != PORT_OK) {
        *why = "the address " + hex8(target) + " it holds: " + place_problem(ported);
        return false;
    }
    *moved = ported.address;
    return true;
}

void fail_fix(ValueFix* fix, const std::string& why) {
    fix->failed = true;
    fix->why = why;
}

// Plans the new values of lines whose values hold addresses: j and jal, lui with the addiu,
// ori, load or store that completes it, and data words that point into the old build.
std::vector<ValueFix> values_plan(const ImageCopy* old_copy, const ImageCopy* new_copy,
                                  const PatchFile* file, PlaceCache* cache) {
    const std::vector<PatchLine>& lines = file->lines;
    std::vector<ValueFix> fixes(lines.size());
    std::vector<size_t> writes;
    for (size_t i = 0; i < lines.size(); i++) {
        if ((lines[i].kind == PATCH_LINE_PNACH || lines[i].kind == PATCH_LINE_RAW) &&
            lines[i].width != 0)
            writes.push_back(i);
    }
    std::vector<bool> done(lines.size(), false);
    for (size_t w = 0; w < writes.size(); w++) {
        const PatchLine& hi_line = lines[writes[w]];
        if (!is_code_word_line(old_copy, hi_line) || hi_line.value >> 26 != 15)
            continue;
        uint32_t rt = (hi_line.value >> 16) & 31;
        // The half that completes a lui follows it closely in any patch written by hand.
        for (size_t v = w + 1; v < writes.size() && v <= w + 4; v++) {
            const PatchLine& lo_line = lines[writes[v]];
            if (!is_code_word_line(old_copy, lo_line) || !mips_adds_immediate(lo_line.value) ||
                ((lo_line.value >> 21) & 31) != rt)
                continue;
            bool ori = lo_line.value >> 26 == 13;
            uint32_t high = hi_line.value << 16;
            uint32_t low = lo_line.value & 0xFFFF;
            uint32_t target = ori ? (high | low) : high + uint32_t(int32_t(int16_t(low)));
            done[writes[w]] = done[writes[v]] = true;
            if (!in_span(old_copy, target))
                break;
            uint32_t moved = 0;
            std::string why;
            if (!port_target(old_copy, new_copy, target, false, &moved, &why, cache)) {
                fail_fix(&fixes[writes[w]], why);
                fail_fix(&fixes[writes[v]], why);
                break;
            }
            uint32_t new_high = ori ? moved >> 16 : (moved + 0x8000) >> 16;
            fixes[writes[w]] = {true, (hi_line.value & 0xFFFF0000u) | new_high, false, "", false,
                                0};
            fixes[writes[v]] = {
                true, (lo_line.value & 0xFFFF0000u) | (moved & 0xFFFF), false, "", false, 0};
            break;
        }
    }
    for (size_t i : writes) {
        const PatchLine& line = lines[i];
        if (done[i] || line.width != 4)
            continue;
        ImagePlace place;
        if (!image_place_find(&old_copy->image, line.address, 4, &place))
            continue;
        uint32_t op = line.value >> 26;
        uint32_t moved = 0;
        std::string why;
        if (place.executable && (op == 2 || op == 3)) {
            uint32_t region = (line.address + 4) & 0xF0000000u;
            uint32_t target = region | (line.value & 0x03FFFFFFu) << 2;
            if (!in_span(old_copy, target))
                continue;
            if (!port_target(old_copy, new_copy, target, true, &moved, &why, cache)) {
                fail_fix(&fixes[i], "jump target: " + why);
                continue;
            }
            fixes[i] = {true,  (line.value & 0xFC000000u) | (moved >> 2 & 0x03FFFFFFu),
                        false, "",
                        true,  moved};
        } else if (!place.executable && in_span(old_copy, line.value)) {
            if (!port_target(old_copy, new_copy, line.value, false, &moved, &why, cache)) {
                fail_fix(&fixes[i], why);
                continue;
            }
            fixes[i] = {true, moved, false, "", false, 0};
        }
    }
    return fixes;
}

void comment_out(PatchLine* line, const std::string& why) {
    line->text = "// not ported (" + why + "): " + line->text;
    line->kind = PATCH_LINE_TEXT;
}

// Puts the new checksum where a gametitle= line names the old one.
void gametitle_update(PatchLine* line, uint32_t old_checksum, uint32_t new_checksum) {
    size_t at = 0;
    if (!patch_line_key(line, "gametitle", &at))
        return;
    std::string old_text = hex8(old_checksum);
    std::string& text = line->text;
    for (size_t i = at; i + 8 <= text.size(); i++) {
        bool same = true;
        for (size_t j = 0; j < 8 && same; j++) {
            char c = text[i + j];
            c = c >= 'a' && c <= 'f' ? char(c - 'a' + 'A') : c;
            same = c == old_text[j];
        }
        if (same) {
            text.replace(i, 8, hex8(new_checksum));
            i += 7;
        }
    }
}

} // namespace

const char* port_status_text(PortStatus status) {
    static const char* const texts[PORT_STATUS_COUNT] = {
        "ported",      "not in the file",     "no unique signature", "not found",
        "ambiguous",   "signatures disagree", "out of order",        "value not ported",
        "unsupported", "malformed",           "function changed",
    };
    return status < PORT_STATUS_COUNT ? texts[status] : "?";
}

PortPlace port_address(const ImageCopy* old_copy, const ImageCopy* new_copy, uint32_t address,
                       uint32_t width, bool entry) {
    PlaceCache cache;
    return port_address_cached(old_copy, new_copy, address, width, entry, &cache);
}

void patch_file_port(const ImageCopy* old_copy, const ImageCopy* new_copy, PatchFile* file,
                     PortReport* report) {
    *report = PortReport{};
    PlaceCache cache;
    std::vector<ValueFix> fixes = values_plan(old_copy, new_copy, file, &cache);
    for (size_t i = 0; i < file->lines.size(); i++) {
        PatchLine& line = file->lines[i];
        if (line.kind == PATCH_LINE_TEXT) {
            gametitle_update(&line, old_copy->image.checksum, new_copy->image.checksum);
            continue;
        }
        report->lines++;
        PortStatus status = PORT_OK;
        std::string why;
        if (line.kind == PATCH_LINE_MALFORMED) {
            status = PORT_MALFORMED;
            why = "malformed: " + line.problem;
        } else if (line.width == 0) {
            status = PORT_UNSUPPORTED;
            why = line.problem;
        } else {
            PortPlace place =
                port_address_cached(old_copy, new_copy, line.address, line.width, false, &cache);
            const ValueFix& fix = fixes[i];
            if (place.status != PORT_OK) {
                status = place.status;
                why = place_problem(place);
                if (place.status == PORT_AMBIGUOUS) {
                    uint32_t& low = report->fewest_places;
                    low = low == 0 || place.places < low ? place.places : low;
                    report->most_places =
                        place.places > report->most_places ? place.places : report->most_places;
                }
            } else if (fix.failed) {
                status = PORT_TARGET;
                why = "value: " + fix.why;
            } else if (fix.jump &&
                       ((place.address + 4) & 0xF0000000u) != (fix.jump_target & 0xF0000000u)) {
                status = PORT_TARGET;
                why = "value: the jump target " + hex8(fix.jump_target) + " is out of reach";
            } else {
                uint32_t value = fix.changed ? fix.value : line.value;
                patch_line_rewrite(&line, place.address, value);
            }
        }
        report->counts[status]++;
        if (status != PORT_OK)
            comment_out(&line, why);
    }
}

std::string port_report_summary(const PortReport* report) {
    std::string text = std::to_string(report->counts[PORT_OK]) + " of " +
                       std::to_string(report->lines) + " lines ported";
    const char* separator = "; ";
    for (uint32_t s = 1; s < PORT_STATUS_COUNT; s++) {
        if (report->counts[s] == 0)
            continue;
        text += separator;
        separator = ", ";
        text += std::to_string(report->counts[s]) + " " + port_status_text(PortStatus(s));
        if (s == PORT_AMBIGUOUS) {
            text += " (" + std::to_string(report->fewest_places);
            if (report->most_places != report->fewest_places)
                text += " to " + std::to_string(report->most_places);
            text += " places)";
        }
    }
    return text;
}
