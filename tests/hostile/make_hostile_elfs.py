#!/usr/bin/env python3
"""Usage: make_hostile_elfs.py OUTDIR. Writes the hostile ELF corpus and manifest.txt, one line a
file: "NAME refuse", or "NAME load EXEC NONEXEC CHECK..." with the segment counts of each range set
and CHECKs SET:INDEX:OFFSET:SIZE:DELTA (hex) of single segments (set 0 is the executable one)."""
import os
import struct
import sys

PT_LOAD, PT_NOTE = 1, 4
PF_X, PF_W, PF_R = 1, 2, 4
HEADER_SIZE, ENTRY_SIZE = 52, 32
# A word that the tests search for (MIPS lui t7,0x0040), placed through the bodies.
MARK = struct.pack("<I", 0x3C0F0040)


def header(phoff, phnum, phentsize=ENTRY_SIZE, magic=b"\x7fELF"):
    ident = magic + bytes([1, 1, 1, 0]) + bytes(8)
    return ident + struct.pack("<HHIIIIIHHHHHH", 2, 8, 1, 0x400000, phoff, 0, 0,
                               HEADER_SIZE, phentsize, phnum, 40, 0, 0)


def entry(p_type, offset, vaddr, filesz, flags):
    return struct.pack("<8I", p_type, offset, vaddr, vaddr, filesz, filesz, flags, 4)


def body(size):
    """Every byte value in turn, with the search word every 64 bytes."""
    out = bytearray(bytes(range(256)) * (size // 256 + 1))
    for at in range(0, size - 3, 64):
        out[at:at + 4] = MARK
    return bytes(out[:size])


def elf(entries, total, phoff=HEADER_SIZE, phnum=None, **kw):
    """Header, program header table at phoff, filler up to total bytes."""
    table = b"".join(entries)
    data = bytearray(body(total))
    data[0:HEADER_SIZE] = header(phoff, len(entries) if phnum is None else phnum, **kw)
    data[phoff:phoff + len(table)] = table
    return bytes(data[:total])


def load(offset, filesz, vaddr=None, flags=PF_R | PF_X):
    vaddr = (0x100000 + offset if vaddr is None else vaddr) & 0xFFFFFFFF
    return entry(PT_LOAD, offset, vaddr, filesz, flags)


def seg(set_index, index, offset, size, delta=0x100000):
    return "%d:%d:%x:%x:%x" % (set_index, index, offset, size, delta & 0xFFFFFFFF)


def loads(executable, other, *checks):
    return " ".join(["load %d %d" % (executable, other), *checks])


def cases():
    """(name, bytes or a sparse size, manifest text)."""
    one = [load(0x100, 0x100)]
    yield "empty", b"", "refuse"
    yield "magic_only", b"\x7fELF", "refuse"
    yield "header_cut_51", header(HEADER_SIZE, 0)[:51], "refuse"
    yield "header_only", header(HEADER_SIZE, 0), "load 0 0"
    yield "bad_magic", elf(one, 0x200, magic=b"\x7fELG"), "refuse"
    yield "text_file", b"Hello, this is not an executable.\r\n" * 4, "refuse"
    # Program header table placement.
    yield "phdr_cut_short", elf(one, HEADER_SIZE + 20), "refuse"
    yield "phdr_second_entry_cut", elf([load(0x100, 0x10)] * 2, HEADER_SIZE + 32 + 31), "refuse"
    yield "phdr_ends_at_file_end", elf([load(0, 0x40)], 0x120, phoff=0x100), \
        loads(1, 0, seg(0, 0, 0, 0x40))
    yield "phoff_past_end", elf([], 0x200, phoff=0x1000, phnum=1), "refuse"
    yield "phoff_wraps", elf([], 0x200, phoff=0xFFFFFFF0, phnum=1), "refuse"
    yield "phoff_wraps_by_one", elf([], 0x200, phoff=0xFFFFFFFF, phnum=1), "refuse"
    yield "phoff_wraps_many", elf([], 0x200, phoff=0xFFFFFF00, phnum=0x10), "refuse"
    yield "phnum_65535_cut", elf(one, 0x400, phnum=65535), "refuse"
    yield "phnum_65535_wraps_to_zero", elf([], 0x200, phoff=0xFFE00020, phnum=65535), "refuse"
    yield "phoff_zero", elf([], 0x100, phoff=0, phnum=1), "load 0 0"
    yield "empty_table_far_away", elf([], 0x100, phoff=0xFFFFFFFF, phnum=0), "load 0 0"
    yield "phentsize_ignored", \
        elf([load(0x100, 0x40), load(0x140, 0x40, flags=PF_R)], 0x200, phentsize=56), \
        loads(1, 1, seg(0, 0, 0x100, 0x40), seg(1, 0, 0x140, 0x40))
    # 65535 loadable entries over the same bytes: the scan must not go over them once per entry.
    count = 65535
    table_end = HEADER_SIZE + ENTRY_SIZE * count
    total = table_end + 0x10000
    many = [load(table_end, 0x10000, flags=PF_R | (PF_X * (i % 2 == 0))) for i in range(count)]
    yield "phnum_65535_overlapping", elf(many, total), "load 32768 32767"
    # The same count, each entry one word further on and in descending order.
    total2 = table_end + 4 * count
    many = [load(total2 - 4 * (i + 1), 4 * (i + 1)) for i in range(count)]
    yield "phnum_65535_descending", elf(many, total2), "load 65535 0"
    # Segments against the end of the file.
    yield "seg_past_end", elf([load(0x100, 0x10000)], 0x200), loads(1, 0, seg(0, 0, 0x100, 0x100))
    yield "seg_starts_past_end", elf([load(0x10000, 0x10)], 0x200), "load 1 0"
    yield "seg_starts_at_end", elf([load(0x200, 0x10)], 0x200), loads(1, 0, seg(0, 0, 0x200, 0))
    # A first segment far away moves the scan's cursor past everything after it.
    yield "seg_far_then_near", elf([load(0x10000, 0x10), load(0x100, 0x100)], 0x200), "load 2 0"
    yield "seg_offset_wraps", elf([load(0xFFFFFF00, 0x200)], 0x200), "load 1 0"
    yield "seg_size_wraps", elf([load(0x80, 0xFFFFFFF0)], 0x200), \
        loads(1, 0, seg(0, 0, 0x80, 0x180))
    yield "seg_max_both", elf([load(0xFFFFFFFF, 0xFFFFFFFF)], 0x200), "load 1 0"
    yield "seg_zero_size", elf([load(0x100, 0)], 0x200), loads(1, 0, seg(0, 0, 0x100, 0))
    # Tails that end inside a word: the scan and the printed words must stop at the file's end.
    yield "seg_unaligned_tail", elf([load(0x81, 0x7E)], 0xFF), loads(1, 0, seg(0, 0, 0x81, 0x7E))
    yield "seg_whole_file_odd", elf([load(0, 0x1FD), load(0, 0x1FD, flags=PF_R)], 0x1FD), \
        loads(1, 1, seg(0, 0, 0, 0x1FD))
    yield "seg_last_bytes", elf([load(0x1FE, 2), load(0x1FF, 1), load(0x1FD, 3)], 0x200), "load 3 0"
    # Overlapping, out of order, and odd address arithmetic.
    yield "segs_overlap", elf([load(0x100, 0x100), load(0x140, 0x100), load(0x100, 0x40)], 0x300), \
        "load 3 0"
    yield "segs_out_of_order", elf([load(0x280, 0x80), load(0x180, 0x80), load(0x80, 0x80)],
                                   0x300), loads(3, 0, seg(0, 2, 0x80, 0x80))
    yield "segs_mixed_sets", \
        elf([load(0x80, 0x80, flags=PF_R), load(0x100, 0x80), load(0x180, 0x80, flags=PF_W),
             load(0x200, 0x80, flags=PF_X)], 0x300), loads(2, 2, seg(1, 1, 0x180, 0x80))
    yield "vaddr_below_offset", elf([load(0x100, 0x80, vaddr=0x10)], 0x200), \
        loads(1, 0, seg(0, 0, 0x100, 0x80, 0x10 - 0x100))
    yield "vaddr_top", elf([load(0x100, 0x80, vaddr=0xFFFFFFF0)], 0x200), \
        loads(1, 0, seg(0, 0, 0x100, 0x80, 0xFFFFFFF0 - 0x100))
    yield "other_types_bogus", \
        elf([entry(PT_NOTE, 0xFFFFFFFF, 0, 0xFFFFFFFF, PF_X), entry(0x70000000, 0x10000, 0,
             0x10000, 7), load(0x100, 0x40)], 0x200), "load 1 0"
    # Sizes outside the 32-bit model; sparse, so they take no disk.
    yield "sparse_2gib", (elf(one, 0x200), 1 << 31), "refuse"
    yield "sparse_4gib_plus_512", (elf(one, 0x200), (1 << 32) + 0x200), "refuse"


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    os.makedirs(sys.argv[1], exist_ok=True)
    manifest = ""
    for name, content, expect in cases():
        head, size = content if isinstance(content, tuple) else (content, len(content))
        with open(os.path.join(sys.argv[1], name + ".elf"), "wb") as f:
            f.write(head)
            f.truncate(size)
        manifest += name + " " + expect + "\n"
    with open(os.path.join(sys.argv[1], "manifest.txt"), "w") as f:
        f.write(manifest)

if __name__ == "__main__":
    main()
