// Applying patch lines to a copy of an executable.
#include "core/patch_apply.h"

#include <cstdio>

#include "core/image_copy.h"

void patch_file_apply(const ElfImage* image, uint8_t* data, const PatchFile* file,
                      ApplyReport* report) {
    *report = ApplyReport{};
    for (const PatchLine& line : file->lines) {
        if (line.kind == PATCH_LINE_TEXT)
            continue;
        report->lines++;
        char problem[160];
        problem[0] = '\0';
        ImagePlace place;
        if (line.kind == PATCH_LINE_MALFORMED) {
            std::snprintf(problem, sizeof problem, "malformed: %s", line.problem.c_str());
        } else if (line.width == 0) {
            std::snprintf(problem, sizeof problem, "not applied: %s", line.problem.c_str());
        } else if (line.kind == PATCH_LINE_PNACH && line.place > 1) {
            std::snprintf(problem, sizeof problem, "not applied: only patch=0 and patch=1 lines");
        } else if (!image_place_find(image, line.address, line.width, &place)) {
            std::snprintf(problem, sizeof problem, "address %08X is not in the file", line.address);
        } else {
            // The executable is little-endian: the low byte of the value comes first.
            for (uint32_t i = 0; i < line.width; i++)
                data[place.offset + i] = uint8_t(line.value >> (8 * i));
            report->applied++;
            continue;
        }
        report->problems.push_back("line " + std::to_string(line.number) + ": " + problem);
    }
}
