// Writing the plain writes of a patch file (patch=0 and patch=1 bytes, shorts and words, and
// RAW Code types 0, 1 and 2) into a copy of the executable they were written for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/elf_image.h"
#include "core/patch_file.h"

struct ApplyReport {
    uint32_t lines;                    // PNACH, RAW and malformed lines
    uint32_t applied;                  // lines written into the copy
    std::vector<std::string> problems; // one per line not applied: "line 7: ..."
};

// Applies the lines of `file` to `data`, a copy of `image`'s bytes (image->size of them),
// in file order, so a later line wins where two overlap. Lines whose bytes are not all in one
// file-backed segment, patch=2 lines, other code types and malformed lines are listed in the
// report and leave the copy alone.
void patch_file_apply(const ElfImage* image, uint8_t* data, const PatchFile* file,
                      ApplyReport* report);
