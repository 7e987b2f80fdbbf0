// Makes the benchmark's inputs: a 32-bit little-endian MIPS-like ELF with one executable
// segment, and the pattern sets of 1 to 100,000 patterns (8 to 16 bytes, about 40 % with wildcard
// nibbles) with copies planted in the code, as Quarnel pattern text and as yara rules.
//
//   gen_elf DIR SIZE_MIB [SEED]
//   gen_elf --files DIR COUNT SIZE_MIB   COUNT files DIR/fNNN.elf with different code, holding
//                                        copies of the same first 1000 patterns as SEED 1
//
// Writes DIR/code.elf, DIR/pN.txt and DIR/pN.yar for N = 1, 10, ..., 100000, and
// DIR/planted.txt (the offsets of the planted copies). The first N patterns of the 100,000 form
// set N; 100 copies of pattern 0, 100 of patterns 1-9, 100 of 10-99 and so on up to 100 of
// 10000-99999 are planted, four in five at word boundaries.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint64_t rng_state = 1;

uint64_t rng_next() {
    uint64_t z = (rng_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t below(uint32_t n) {
    return uint32_t(rng_next() % n);
}

uint32_t reg() {
    return below(32);
}

// One instruction word, drawn with frequencies that resemble compiled MIPS code: many no-ops,
// stack loads and stores, lui/addiu pairs, calls and register moves.
uint32_t instruction() {
    uint32_t r = below(100);
    if (r < 8)
        return 0x00000000; // nop
    if (r < 20)
        return 0x8FA00000 | reg() << 16 | (below(64) * 4); // lw rt, n(sp)
    if (r < 32)
        return 0xAFA00000 | reg() << 16 | (below(64) * 4); // sw rt, n(sp)
    if (r < 40)
        return 0x3C000000 | reg() << 16 | below(0x10000); // lui
    if (r < 50)
        return 0x24000000 | reg() << 21 | reg() << 16 | below(0x10000); // addiu
    if (r < 56)
        return 0x0C000000 | (0x40000 + below(0x40000)); // jal
    if (r < 66)
        return reg() << 21 | reg() << 16 | reg() << 11 | (below(2) ? 0x21 : 0x25); // addu / or
    if (r < 72)
        return (below(2) ? 0x10000000 : 0x14000000) | reg() << 21 | reg() << 16 | below(0x100);
    if (r < 74)
        return 0x03E00008; // jr ra
    if (r < 78)
        return 0x27BD0000 | (0x10000 - 8 * (1 + below(16))); // addiu sp, sp, -n
    if (r < 86)
        return 0x8C000000 | reg() << 21 | reg() << 16 | below(0x1000) * 4; // lw
    return 0xAC000000 | reg() << 21 | reg() << 16 | below(0x1000) * 4;     // sw
}

void put32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++)
        f[at + i] = uint8_t(v >> (8 * i));
}

struct Pattern {
    std::vector<uint8_t> bytes; // in written order, as the file holds them
    std::vector<uint8_t> wild;  // per byte: 0xF0 high nibble wild, 0x0F low nibble wild
};

Pattern make_pattern() {
    Pattern p;
    uint32_t length = 8 + below(9);
    while (p.bytes.size() < length) {
        // No-ops and returns are everywhere; a pattern made of them would match by the
        // hundred thousand and turn the benchmark into one of printing.
        uint32_t w = instruction();
        if (w == 0 || w == 0x03E00008)
            continue;
        for (int i = 0; i < 4; i++)
            p.bytes.push_back(uint8_t(w >> (8 * i)));
    }
    p.bytes.resize(length);
    p.wild.assign(length, 0);
    if (below(100) < 40) {
        uint32_t nibbles = 1 + below(3);
        for (uint32_t i = 0; i < nibbles; i++)
            p.wild[below(length)] |= below(2) ? 0xF0 : 0x0F;
    }
    return p;
}

bool write_file(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

const char HEX[] = "0123456789ABCDEF";

std::string quarnel_line(const Pattern& p) {
    std::string s;
    for (size_t i = 0; i < p.bytes.size(); i++) {
        s += p.wild[i] & 0xF0 ? 'x' : HEX[p.bytes[i] >> 4];
        s += p.wild[i] & 0x0F ? 'x' : HEX[p.bytes[i] & 15];
    }
    return s;
}

std::string yara_hex(const Pattern& p) {
    std::string s;
    for (size_t i = 0; i < p.bytes.size(); i++) {
        if (i)
            s += ' ';
        s += p.wild[i] & 0xF0 ? '?' : HEX[p.bytes[i] >> 4];
        s += p.wild[i] & 0x0F ? '?' : HEX[p.bytes[i] & 15];
    }
    return s;
}

// A code segment of `size` bytes with copies of patterns [0, 1) ... [10^k, 10^(k+1)) planted,
// 100 of each group up to `limit`; their offsets go to `planted`.
std::vector<uint8_t> make_code(size_t size, const std::vector<Pattern>& patterns, uint32_t limit,
                               std::string& planted) {
    const size_t code = 0x1000;
    std::vector<uint8_t> f(size, 0);
    // ELF header: 32-bit, little-endian, executable, MIPS; one program header at 52.
    const uint8_t ident[16] = {0x7F, 'E', 'L', 'F', 1, 1, 1, 0};
    std::memcpy(f.data(), ident, 16);
    f[16] = 2;                                // e_type: executable
    f[18] = 8;                                // e_machine: MIPS
    put32(f, 20, 1);                          // e_version
    put32(f, 24, 0x00100000);                 // e_entry
    put32(f, 28, 52);                         // e_phoff
    f[40] = 52;                               // e_ehsize
    f[42] = 32;                               // e_phentsize
    f[44] = 1;                                // e_phnum
    put32(f, 52 + 0, 1);                      // p_type: PT_LOAD
    put32(f, 52 + 4, uint32_t(code));         // p_offset
    put32(f, 52 + 8, 0x00100000);             // p_vaddr
    put32(f, 52 + 12, 0x00100000);            // p_paddr
    put32(f, 52 + 16, uint32_t(size - code)); // p_filesz
    put32(f, 52 + 20, uint32_t(size - code)); // p_memsz
    put32(f, 52 + 24, 5);                     // p_flags: R + X
    put32(f, 52 + 28, 16);                    // p_align
    for (size_t at = code; at + 4 <= size; at += 4)
        put32(f, at, instruction());
    for (uint32_t low = 0, high = 1; low < limit; low = high, high *= 10) {
        for (int copy = 0; copy < 100; copy++) {
            const Pattern& p = patterns[low + below(std::min(high, limit) - low)];
            size_t room = (size - code - 64) / 4;
            size_t at = code + 4 * size_t(below(uint32_t(room)));
            if (below(5) == 0)
                at += 1 + below(3);
            for (size_t i = 0; i < p.bytes.size(); i++) {
                uint8_t b = p.bytes[i];
                b = uint8_t((b & ~p.wild[i]) | (uint8_t(rng_next()) & p.wild[i]));
                f[at + i] = b;
            }
            char line[32];
            std::snprintf(line, sizeof line, "%08zX\n", at);
            planted += line;
        }
    }
    return f;
}

// The patterns first, so that every file made from one seed shares them.
std::vector<Pattern> make_patterns(uint64_t seed) {
    rng_state = seed;
    std::vector<Pattern> patterns;
    for (int i = 0; i < 100000; i++)
        patterns.push_back(make_pattern());
    return patterns;
}

bool write_bytes(const std::string& path, const std::vector<uint8_t>& f) {
    return write_file(path, std::string(reinterpret_cast<const char*>(f.data()), f.size()));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--files") == 0) {
        std::string dir = argv[2];
        uint32_t count = uint32_t(std::strtoul(argv[3], nullptr, 10));
        size_t size = size_t(std::strtoul(argv[4], nullptr, 10)) << 20;
        std::vector<Pattern> patterns = make_patterns(1);
        for (uint32_t n = 0; n < count; n++) {
            rng_state = 1000 + n;
            std::string planted;
            char name[32];
            std::snprintf(name, sizeof name, "/f%03u.elf", n);
            if (size < 0x2000 ||
                !write_bytes(dir + name, make_code(size, patterns, 1000, planted))) {
                std::fprintf(stderr, "gen_elf: cannot write %s%s\n", dir.c_str(), name);
                return 1;
            }
        }
        return 0;
    }
    if (argc < 3) {
        std::fprintf(stderr, "usage: gen_elf DIR SIZE_MIB [SEED] | gen_elf --files DIR COUNT "
                             "SIZE_MIB\n");
        return 2;
    }
    std::string dir = argv[1];
    size_t size = size_t(std::strtoul(argv[2], nullptr, 10)) << 20;
    if (size < 0x2000) {
        std::fprintf(stderr, "gen_elf: size too small\n");
        return 2;
    }
    std::vector<Pattern> patterns =
        make_patterns(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
    std::string planted;
    std::vector<uint8_t> f = make_code(size, patterns, 100000, planted);
    bool ok = write_bytes(dir + "/code.elf", f) && write_file(dir + "/planted.txt", planted);
    for (uint32_t n : {1u, 10u, 100u, 1000u, 10000u, 100000u}) {
        // yara takes at most 10,000 strings per rule.
        std::string text, rules;
        for (uint32_t i = 0; i < n; i++) {
            if (i % 10000 == 0)
                rules += "rule planted" + std::to_string(i / 10000) + "\n{\n  strings:\n";
            text += quarnel_line(patterns[i]) + "\r\n";
            rules += "    $p" + std::to_string(i) + " = { " + yara_hex(patterns[i]) + " }\n";
            if (i % 10000 == 9999 || i + 1 == n)
                rules += "  condition:\n    any of them\n}\n";
        }
        ok = ok && write_file(dir + "/p" + std::to_string(n) + ".txt", text) &&
             write_file(dir + "/p" + std::to_string(n) + ".yar", rules);
    }
    if (!ok) {
        std::fprintf(stderr, "gen_elf: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
