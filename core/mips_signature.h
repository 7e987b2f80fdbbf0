// Signatures of a place in an executable that survive a rebuild: the words around it with the
// fields that move between builds masked out. For MIPS code these are the targets of j and
// jal, the immediates of lui, and the immediates that add to a register a recent lui set; for
// data, words that hold an address inside the executable. Everything else stays exact.
#pragma once

#include <cstdint>
#include <vector>

#include "core/image_copy.h"

// True for an instruction word whose 16-bit immediate is added to its register rs (addiu,
// ori, loads and stores): the low half of an address when rs was set by lui.
bool mips_adds_immediate(uint32_t word);

// The mask of the word at file offset `offset` (a multiple of four) of `copy`.
//   executable:    the word lies in an executable segment (it is read as an instruction).
//   segment_start: the first file offset of its segment; a lui before it is not looked at.
uint32_t signature_word_mask(const ImageCopy* copy, bool executable, uint32_t segment_start,
                             uint32_t offset);

// Where the functions of the code of `copy` begin, sorted: the ELF entry point, the start of
// each code segment, the targets of jal, the code
// addresses a lui and a following addiu or ori on its register put together (non-PIC code
// calls and takes the address of functions that way), and the first word after a jr $ra, its
// delay slot and zero padding when no branch, j or data word points at it (compilers place
// cold blocks of a function after its return, and those are branched to).
std::vector<uint32_t> mips_code_entries(const ImageCopy* copy);

enum SignatureSide : uint32_t {
    SIGNATURE_BEFORE = 0, // the words before the place, and its own
    SIGNATURE_AFTER = 1,  // its own word and the words after it
    SIGNATURE_AROUND = 2, // both
};

struct Signature {
    SignatureSide side;
    uint32_t before;              // words before the place's word
    uint32_t after;               // words after it
    std::vector<uint32_t> values; // file words (little-endian numbers) from the first word on
    std::vector<uint32_t> masks;
    bool unique; // it matches at one place only in the old image
};

// The largest number of words a signature has on one side of its place.
const uint32_t SIGNATURE_MAX_SIDE = 64;

// Grows the signature of one side of `place` (an address's place in `copy`) a word at a time,
// from the place's own word, until it matches only once in the same kind of segments of
// `copy` and has at least `min_words` words, or cannot grow: SIGNATURE_MAX_SIDE words on each
// growing side, or the ends of the place's segment.
Signature signature_grow(const ImageCopy* copy, const ImagePlace* place, SignatureSide side,
                         uint32_t min_words);

// Searches `image` with the core's engine, word-aligned, in the executable or the other
// segments. Appends to `addresses` the address of the place's word for every match (the
// match's address plus the words before it). Returns 1, or 0 when memory ran out.
int signature_find(const ElfImage* image, bool executable, const Signature* signature,
                   std::vector<uint32_t>* addresses);

// The same for several signatures in one scan: (*addresses)[i] receives the places of
// signatures[i]. Returns 1, or 0 when memory ran out.
int signature_find_many(const ElfImage* image, bool executable,
                        const std::vector<const Signature*>& signatures,
                        std::vector<std::vector<uint32_t>>* addresses);
