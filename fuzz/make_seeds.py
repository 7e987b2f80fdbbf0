#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into fuzz/corpus/<target>/.

Seeds are small on purpose: libFuzzer mutates them, so each should reach one feature (a token
kind, a segment layout, a format) with as few bytes as possible. Run again after changing it;
the files are committed. The folders also hold inputs kept from long fuzzing runs, merged in
with `<target> -merge=1 fuzz/corpus/<target> <run corpus>`, so that short runs start from the
coverage the long ones reached.
"""
import hashlib
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

PATTERN_SEEDS = [
    b"DEADBEEF",
    b"de ad be ef\r\n",
    b"0123456789ABCDEF",
    b"0102030405",
    b"0x3C0F0040",
    b"1234567",
    b"xxxxxxxx\nXxxxxxxx\nx1xxxxxx",
    b"*35C000000",
    b"C*35000000",
    b"1234* 3",
    b"3C0F0040\r3C0F0041\r",
    b"\r\n  \t\r\n; only a note\r\n",
    b"3C0F0040\r\nzz\r\n24020005 ; note\r\n",
    b"DEADBEEF abc",
    b"* 3 5 C 0 0 0 0 0 0",
    b"3C0F00x0\n",
    b"\xff\xfeDEADBEEF\n\x80\x81",
]

ARGV_SEEDS = [
    b'"C:\\Program Files\\Quarnel\\quarnel.exe" a "b c"d',
    b"quarnel.exe",
    b'quarnel.exe ""',
    b'quarnel.exe "" "" x""y',
    b'a\tb\r\nc  d',
    b'"unclosed quote runs to the end',
    b'back\\slash\\" "is plain',
    b"\x80\xff high bytes",
    b"",
    b"   ",
]

PT_LOAD, PF_X, PF_R = 1, 1, 4


def elf(segments, total, phoff=52, phnum=None):
    data = bytearray(total)
    head = b"\x7fELF\x01\x01\x01" + bytes(9)
    head += struct.pack("<HHIIIIIHHHHHH", 2, 8, 1, 0x400000, phoff, 0, 0, 52, 32,
                        len(segments) if phnum is None else phnum, 40, 0, 0)
    data[0:52] = head
    at = phoff
    for p_type, offset, vaddr, size, flags in segments:
        data[at:at + 32] = struct.pack("<8I", p_type, offset, vaddr, vaddr, size, size, flags, 4)
        at += 32
    # Words to find: the same word in both byte orders, and some neighbours.
    words = [0x3C0F0040, 0x40000F3C, 0x24020005, 0x3C0F0040, 0, 0xFFFFFFFF]
    for i in range(max(0, (total - 0x80) // 4)):
        struct.pack_into("<I", data, 0x80 + 4 * i, words[i % len(words)])
    return bytes(data[:total])


def search_seed(search, replace, image):
    return bytes([len(search), len(replace)]) + search + replace + image


def search_seeds():
    both = [(PT_LOAD, 0x80, 0x100080, 0x40, PF_R | PF_X), (PT_LOAD, 0xC0, 0x2000C0, 0x40, PF_R)]
    yield search_seed(b"3C0F0040", b"", elf(both, 0x100))
    yield search_seed(b"3C0F0040\n400F003C", b"3C0F0041\n400F003D", elf(both, 0x100))
    yield search_seed(b"3C0F0040 xx", b"", elf(both, 0xFF))
    yield search_seed(b"xxxxxxxxxxxx*10x", b"", elf([(PT_LOAD, 0x81, 0x81, 0x7E, PF_X)], 0xFF))
    yield search_seed(b"x*10xxxxx\n24020005", b"xxxx0001\n24020001",
                      elf([(PT_LOAD, 0xC0, 0x1000, 0x40, PF_X), (PT_LOAD, 0x80, 0x900, 0x80, PF_X)],
                          0x100))
    yield search_seed(b"3C0F0040", b"", elf([(PT_LOAD, 0x80, 0x80, 0x1000, PF_X)], 0x100))
    yield search_seed(b"3C0F0040", b"", elf([(PT_LOAD, 0xFFFFFF00, 0, 0x200, PF_X)], 0x100))
    yield search_seed(b"3C0F0040", b"", elf([(4, 0, 0, 0xFFFFFFFF, PF_X)], 0x100))
    yield search_seed(b"3C0F0040", b"", elf([], 0x100, phoff=0xFFFFFFF0, phnum=1))
    yield search_seed(b"3C0F0040", b"", elf([(PT_LOAD, 0x80, 0x80, 0x80, PF_X)] * 3, 0x100))
    yield search_seed(b"3C0F0040", b"", b"\x7fELF")
    yield search_seed(b"0102030405060708", b"0807060504030201",
                      elf([(PT_LOAD, 0x80, 0x80, 0x80, PF_X)], 0x100))


def write_corpus(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for seed in seeds:
        name = hashlib.sha1(seed).hexdigest()[:16]
        with open(os.path.join(folder, name), "wb") as f:
            f.write(seed)


def main():
    write_corpus("fuzz_pattern", PATTERN_SEEDS)
    write_corpus("fuzz_search", list(search_seeds()))
    write_corpus("fuzz_argv", ARGV_SEEDS)


if __name__ == "__main__":
    main()
