// The file name under which a result is saved: what the window's Save proposes, and the name
// that a save under that proposal gives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The proposal of Save: "%08X.PNACH" from the ELF's checksum when `pnach`, else the ELF's
// base name as given (`base_name`).
//   out, size: receives the name, cut to fit and zero-terminated.
void save_name_propose(bool pnach, uint32_t checksum, const char* base_name, char* out,
                       size_t size);

// The extension Save adds to a name that has none: ".PNACH" when `pnach`, else ".txt".
const char* save_name_default_extension(bool pnach);

// The name a save accepting the proposal writes: the proposal, with the default extension
// added when the name has no extension of its own (as the save dialogs do).
//   out, size: receives the name, zero-terminated; it is cut when `size` is too small.
void save_name_final(bool pnach, uint32_t checksum, const char* base_name, char* out, size_t size);

// The name of a text result file saved beside others for the executable `base_name`: its own
// name with ".txt" added always ("GAME.ELF" gives "GAME.ELF.txt"), so that a result never takes
// an executable's name. (The window's Save proposal stays save_name_propose.)
std::string save_name_text_result(const char* base_name);
