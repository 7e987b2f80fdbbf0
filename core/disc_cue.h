// Cue sheets: the small text beside a raw CD image that names its data file
// (`FILE "Game.bin" BINARY`). Opening the cue sheet opens that image.
#pragma once

#include <cstdint>
#include <string>

// The largest text taken for a cue sheet: a real one is a few lines per track.
static const uint64_t DISC_CUE_SIZE_MAX = 64 * 1024;

// Reads `text`, the content of the file at `cue_path`, as a cue sheet. Returns 1 and the path of
// the first data file it names in *data_path (a relative name taken from the cue sheet's folder),
// or 0 when the text is no cue sheet naming a file.
int disc_cue_data_file(const std::string& text, const std::string& cue_path,
                       std::string* data_path);
