// Carrying a patch file from one build of a game to another: each line's address is found in
// the new build by masked signatures of the code or data around it in the old build, grown
// independently before, after and around the address; a line moves only when all of them
// agree on one single place and, in code, its function is the same from its start up to it.
#pragma once

#include <cstdint>
#include <string>

#include "core/image_copy.h"
#include "core/patch_file.h"

enum PortStatus : uint32_t {
    PORT_OK = 0,
    PORT_NOT_IN_FILE = 1,  // the address is in no file-backed segment of the old build
    PORT_NO_SIGNATURE = 2, // no signature is unique in the old build
    PORT_NOT_FOUND = 3,    // no signature matches in the new build
    PORT_AMBIGUOUS = 4,    // a signature matches at several places
    PORT_DISAGREE = 5,     // the signatures point at different places, or some find none
    PORT_OUT_OF_ORDER = 6, // the words before or after it went to the other side of that place
    PORT_TARGET = 7,       // the value holds an address that could not be carried over
    PORT_UNSUPPORTED = 8,  // a code type or processor other than plain EE writes
    PORT_MALFORMED = 9,    // the line could not be read
    PORT_CHANGED = 10,     // the code from its function's entry up to it is not the same
    PORT_STATUS_COUNT = 11,
};

// Where one address goes.
struct PortPlace {
    PortStatus status;
    uint32_t address; // PORT_OK: the address in the new build
    uint32_t places;  // PORT_AMBIGUOUS: the largest number of places one signature found
};

// Finds the place of the `width` bytes at `address` of `old_copy` in `new_copy`.
//   entry: the address starts a function or an object (a jump target, the address a lui pair
//          loads): what stands before it belongs to something else and may have moved apart,
//          so it is found by the words from it on only, the shortest signature unique in the
//          old build cross-checked with one twice as long.
PortPlace port_address(const ImageCopy* old_copy, const ImageCopy* new_copy, uint32_t address,
                       uint32_t width, bool entry = false);

struct PortReport {
    uint32_t lines;                      // PNACH, RAW and malformed lines
    uint32_t counts[PORT_STATUS_COUNT];  // per outcome
    uint32_t fewest_places, most_places; // over the ambiguous lines
};

// Ports every patch line of `file` in place: ported lines get their new address and value,
// lines that cannot be ported become comments that say why, and every other line stays as it
// was; a gametitle= line that names the old checksum names the new one.
void patch_file_port(const ImageCopy* old_copy, const ImageCopy* new_copy, PatchFile* file,
                     PortReport* report);

// One line: "12 of 14 lines ported; 1 ambiguous (3 places), 1 not in the file".
std::string port_report_summary(const PortReport* report);

// The words of one outcome ("ambiguous", "not in the file", ...).
const char* port_status_text(PortStatus status);
