// Porting patch lines between two builds.
#include "core/patch_port.h"

#include <cstdio>
#include <vector>

#include "core/mips_signature.h"

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
                 bool executable, uint32_t* moved, std::string* why) {
    ImagePlace place;
    if (!image_place_find(&old_copy->image, target, 1, &place) ||
        (executable && !place.executable)) {
        *why = "it points at " + hex8(target) +
               (executable ? ", outside the code in the file" : ", outside the file");
        return false;
    }
    PortPlace ported = port_address(old_copy, new_copy, target, 1, true);
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
                                  const PatchFile* file) {
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
            if (!port_target(old_copy, new_copy, target, false, &moved, &why)) {
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
            if (!port_target(old_copy, new_copy, target, true, &moved, &why)) {
                fail_fix(&fixes[i], "jump target: " + why);
                continue;
            }
            fixes[i] = {true,  (line.value & 0xFC000000u) | (moved >> 2 & 0x03FFFFFFu),
                        false, "",
                        true,  moved};
        } else if (!place.executable && in_span(old_copy, line.value)) {
            if (!port_target(old_copy, new_copy, line.value, false, &moved, &why)) {
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
        "ported",           "not in the file", "no unique signature",
        "not found",        "ambiguous",       "signatures disagree",
        "value not ported", "unsupported",     "malformed",
    };
    return status < PORT_STATUS_COUNT ? texts[status] : "?";
}

PortPlace port_address(const ImageCopy* old_copy, const ImageCopy* new_copy, uint32_t address,
                       uint32_t width, bool entry) {
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
    for (Signature& signature : signatures) {
        if (!signature.unique)
            continue;
        usable++;
        std::vector<uint32_t> found;
        // A signature unique in the old build may still fit several places in the new one,
        // which has more code that looks alike: more words, all of them still unique in the
        // old build, tell the places apart or show that they cannot be.
        for (;;) {
            found.clear();
            if (!signature_find(&new_copy->image, place.executable, &signature, &found)) {
                found.clear();
                break;
            }
            if (found.size() <= 1)
                break;
            size_t words = signature.values.size();
            Signature longer =
                signature_grow(old_copy, &place, signature.side, uint32_t(words + (words + 1) / 2));
            if (longer.values.size() <= words)
                break;
            signature = longer;
        }
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

void patch_file_port(const ImageCopy* old_copy, const ImageCopy* new_copy, PatchFile* file,
                     PortReport* report) {
    *report = PortReport{};
    std::vector<ValueFix> fixes = values_plan(old_copy, new_copy, file);
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
            PortPlace place = port_address(old_copy, new_copy, line.address, line.width);
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
