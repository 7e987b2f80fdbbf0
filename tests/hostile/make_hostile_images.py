#!/usr/bin/env python3
"""Usage: make_hostile_images.py OUTDIR [--seeds]. Writes hostile disc images and manifest.txt, one
line a file: "NAME<TAB>MESSAGE", the message that refuses it. With --seeds, writes small valid
images instead (the fuzz target's seed corpus), each under 64 KiB."""
import os
import struct
import sys
import zlib

SECTOR, RAW_SECTOR = 2048, 2352
SYNC = b"\x00" + b"\xff" * 10 + b"\x00"
FIRST_FREE = 18  # 16: primary volume descriptor, 17: terminator


def both16(value):
    return struct.pack("<H", value) + struct.pack(">H", value)


def both32(value):
    return struct.pack("<I", value & 0xFFFFFFFF) + struct.pack(">I", value & 0xFFFFFFFF)


def tiny_elf():
    """A 32-bit little-endian MIPS executable: header, one loadable segment, four words."""
    ident = b"\x7fELF" + bytes([1, 1, 1, 0]) + bytes(8)
    header = ident + struct.pack("<HHIIIIIHHHHHH", 2, 8, 1, 0x100000, 52, 0, 0, 52, 32, 1, 40, 0, 0)
    segment = struct.pack("<8I", 1, 84, 0x100000, 0x100000, 16, 16, 5, 4)
    return header + segment + struct.pack("<4I", 0x3C0F0040, 0x27BDFFF0, 0x03E00008, 0)


def record(name, extent, size, flags):
    length = 33 + len(name) + (1 - len(name) % 2)
    data = bytes([length, 0]) + both32(extent) + both32(size) + bytes(7)
    data += bytes([flags, 0, 0]) + both16(1) + bytes([len(name)]) + name
    return data + bytes(length - len(data))


def iso(files, block_size=2048, pad=0):
    """An ISO 9660 image holding `files` ({"GAME/NAME": bytes}); folders come from the paths, one
    sector each. Returns (bytes, {path: record offset}) so that cases can bend single records."""
    folders = {"": []}
    for path in files:
        parts = path.split("/")
        for depth in range(1, len(parts)):
            folder = "/".join(parts[:depth])
            if folder not in folders:
                folders[folder] = []
                folders["/".join(parts[:depth - 1])].append(folder)
        folders["/".join(parts[:-1])].append(path)
    extents, at = {}, FIRST_FREE
    for folder in folders:
        extents[folder], at = at, at + 1
    for path, data in files.items():
        extents[path], at = at, at + max(1, (len(data) + SECTOR - 1) // SECTOR)
    total = at + pad
    image = bytearray(total * SECTOR)
    offsets = {}
    for folder, children in folders.items():
        parent = "/".join(folder.split("/")[:-1]) if folder else ""
        body = record(b"\x00", extents[folder], SECTOR, 2)
        body += record(b"\x01", extents[parent], SECTOR, 2)
        for child in sorted(children):
            name = child.split("/")[-1].encode()
            offsets[child] = extents[folder] * SECTOR + len(body)
            if child in folders:
                body += record(name, extents[child], SECTOR, 2)
            else:
                body += record(name + b";1", extents[child], len(files[child]), 0)
        assert len(body) <= SECTOR
        image[extents[folder] * SECTOR:extents[folder] * SECTOR + len(body)] = body
    for path, data in files.items():
        image[extents[path] * SECTOR:extents[path] * SECTOR + len(data)] = data
    pvd = bytearray(SECTOR)
    pvd[0:7] = b"\x01CD001\x01"
    pvd[40:72] = b"HOSTILE".ljust(32)
    pvd[80:88] = both32(total)
    pvd[128:132] = both16(block_size)
    pvd[156:190] = record(b"\x00", FIRST_FREE, SECTOR, 2)
    image[16 * SECTOR:17 * SECTOR] = pvd
    image[17 * SECTOR:17 * SECTOR + 7] = b"\xffCD001\x01"
    offsets[""] = 16 * SECTOR + 156
    return image, offsets


def bend(image, offset, extent=None, size=None, flags=None):
    """Changes fields of the directory record at `offset`."""
    if extent is not None:
        image[offset + 2:offset + 10] = both32(extent)
    if size is not None:
        image[offset + 10:offset + 18] = both32(size)
    if flags is not None:
        image[offset + 25] = flags
    return image


def bcd(value):
    return (value // 10) << 4 | value % 10


def raw(image, mode=1, form2_at=None, unsynced_at=None):
    """Each 2048-byte sector wrapped into a 2352-byte one; error codes left zero."""
    out = bytearray()
    for number in range(len(image) // SECTOR):
        frames = number + 150
        header = SYNC + bytes([bcd(frames // 4500), bcd(frames // 75 % 60), bcd(frames % 75), mode])
        if number == unsynced_at:
            header = bytes(12) + header[12:]
        data = bytes(image[number * SECTOR:(number + 1) * SECTOR])
        if mode == 1:
            out += header + data + bytes(288)
        else:
            submode = 0x20 if number == form2_at else 0x08
            out += header + bytes([0, 0, submode, 0] * 2) + data + bytes(280)
    return out


def cso(image, block=2048, version=1, total=None):
    """A compressed image: header, index with bit 31 for stored blocks, raw deflate blocks."""
    count = (len(image) + block - 1) // block
    index, blocks = [], bytearray()
    at = 24 + 4 * (count + 1)
    for number in range(count):
        data = bytes(image[number * block:(number + 1) * block])
        packer = zlib.compressobj(9, zlib.DEFLATED, -15)
        packed = packer.compress(data) + packer.flush()
        plain = len(packed) >= len(data)
        index.append(at | (0x80000000 if plain else 0))
        blocks += data if plain else packed
        at += len(data if plain else packed)
    index.append(at)
    header = b"CISO" + struct.pack("<IQIBBH", 24, len(image) if total is None else total, block,
                                   version, 0, 0)
    return bytearray(header + b"".join(struct.pack("<I", i) for i in index) + blocks)


def cso_index(image, number, value):
    image[24 + 4 * number:28 + 4 * number] = struct.pack("<I", value)
    return image


CNF = b"BOOT2 = cdrom0:\\SLUS_203.12;1\r\nVER = 1.00\r\nVMODE = NTSC\r\n"
ELF = tiny_elf()


def game(**kw):
    return iso({"SYSTEM.CNF": CNF, "SLUS_203.12": ELF, "README.TXT": b"hello\n"}, **kw)


def in_folder(cnf=b"BOOT2 = cdrom0:\\GAME\\SUB\\SLUS_203.12;1\r\n"):
    return iso({"SYSTEM.CNF": cnf, "GAME/SUB/SLUS_203.12": ELF})


def invalid(detail):
    return "Invalid disc image (%s)" % detail


def no_boot(detail):
    return "No boot executable in the disc image (%s)" % detail


def cases():
    """(name, bytes, message)."""
    good, at = game()
    sectors = len(good) // SECTOR
    boot = struct.unpack_from("<I", good, at["SLUS_203.12"] + 2)[0]
    # Cut inside the executable: what is read must be there (trimmed padding alone is fine).
    yield "iso_truncated", good[:boot * SECTOR + 50], invalid(
        "truncated: the volume has %d sectors, the image %d" % (sectors, boot))
    yield "iso_cut_in_descriptor", good[:16 * SECTOR + 100], invalid(
        "truncated within its volume descriptors")
    yield "iso_cut_before_descriptor", good[:16 * SECTOR], "Not a disc image"
    image, at = game()
    yield "root_past_end", bend(image, at[""], extent=0x7FFFFFF0), invalid(
        "directory record past the end of the image")
    image, at = in_folder()
    yield "folder_past_end", bend(image, at["GAME"], extent=sectors + 1000), invalid(
        "directory record past the end of the image")
    image, at = in_folder()
    yield "folder_loops_to_root", bend(image, at["GAME"], extent=FIRST_FREE), invalid(
        "directory record loops back to a parent folder")
    image, at = in_folder()
    game_extent = struct.unpack_from("<I", image, at["GAME"] + 2)[0]
    yield "folder_loops_to_parent", bend(image, at["GAME/SUB"], extent=game_extent), invalid(
        "directory record loops back to a parent folder")
    image, at = in_folder()
    yield "folder_too_large", bend(image, at["GAME"], size=64 << 20), invalid(
        "folder too large: 67108864 bytes")
    image, at = game()
    yield "file_larger_than_image", bend(image, at["SLUS_203.12"], size=0x7FFF0000), invalid(
        "file extent past the end of the image")
    image, at = game()
    yield "file_past_end", bend(image, at["SLUS_203.12"], extent=0xFFFFFFFF), invalid(
        "file extent past the end of the image")
    image, at = game()
    yield "file_several_extents", bend(image, at["SLUS_203.12"], flags=0x80), invalid(
        "the boot executable has several extents")
    big = b"VER = 1.00\r\n" * (2 * 1024 * 1024 // 12) + CNF
    image, at = iso({"SYSTEM.CNF": big, "SLUS_203.12": ELF})
    yield "cnf_megabytes", image, invalid("SYSTEM.CNF too large: %d bytes" % len(big))
    image, at = iso({"SYSTEM.CNF": b"BOOT = cdrom:\\SLUS_203.12;1\r\n", "SLUS_203.12": ELF})
    yield "cnf_without_boot2", image, no_boot("SYSTEM.CNF has no BOOT2 line")
    image, at = iso({"SYSTEM.CNF": b"BOOT2 = cdrom0:\\\r\n", "SLUS_203.12": ELF})
    yield "cnf_boot2_empty", image, no_boot("SYSTEM.CNF has no BOOT2 line")
    image, at = iso({"SYSTEM.CNF": b"BOOT2 = cdrom0:\\SLUS_999.99;1\r\n", "SLUS_203.12": ELF})
    yield "cnf_names_missing_file", image, no_boot(
        "SYSTEM.CNF names SLUS_999.99, which is not on the disc")
    deep = b"BOOT2 = cdrom0:\\" + b"A\\" * 9 + b"SLUS_203.12;1\r\n"
    image, at = iso({"SYSTEM.CNF": deep, "SLUS_203.12": ELF})
    yield "cnf_path_too_deep", image, invalid("BOOT2 path too deep")
    image, at = iso({"SYSTEM.CNF": CNF, "SLUS_203.12": b"MZ not an executable"})
    yield "boot_not_elf", image, invalid("the boot executable SLUS_203.12 is not an ELF file")
    image, at = iso({"README.TXT": b"hello\n", "DATA.BIN": bytes(100)})
    yield "no_cnf_no_elf", image, no_boot("no SYSTEM.CNF and no ELF file in the root folder")
    image, at = iso({"ONE.ELF": ELF, "TWO.ELF": ELF})
    yield "no_cnf_two_elfs", image, no_boot("no SYSTEM.CNF and 2 ELF files in the root folder")
    image, at = game()
    image[at["README.TXT"]] = 20  # shorter than a record's fixed part
    yield "record_too_short", image, invalid("directory record broken")
    image, at = game()
    image[at["README.TXT"] + 32] = 200  # a name longer than its record
    yield "record_name_too_long", image, invalid("directory record broken")
    image, at = game(block_size=512)
    yield "block_size_512", image, invalid("logical block size 512 is not 2048")
    image, at = game()
    image[16 * SECTOR] = 2  # only a supplementary descriptor, then the terminator
    yield "no_primary_descriptor", image, invalid("no primary volume descriptor")
    image, at = game()
    image[17 * SECTOR:17 * SECTOR + 7] = b"\x02CD001\x01"
    image[16 * SECTOR] = 2
    yield "descriptors_run_out", image, invalid("no volume descriptor at sector 18")

    good, at = game()
    yield "raw_truncated", raw(good)[:(boot + 1) * RAW_SECTOR - 1000], invalid(
        "truncated: the volume has %d sectors, the image %d" % (sectors, boot))
    yield "raw_sync_lost", raw(good, unsynced_at=FIRST_FREE), invalid(
        "sector %d has no sync pattern" % FIRST_FREE)
    yield "raw_form2_sector", raw(good, mode=2, form2_at=FIRST_FREE), invalid(
        "sector %d is not a data sector" % FIRST_FREE)

    yield "cso_truncated", cso(good)[:-10], invalid("CSO index entry past the end of the image")
    image = cso(good)
    third = struct.unpack_from("<I", image, 24 + 8)[0]
    yield "cso_index_out_of_order", cso_index(image, 3, third - 1), invalid(
        "CSO index entries out of order")
    yield "cso_index_past_end", cso_index(cso(good), 5, 0x7FFFFFF0), invalid(
        "CSO index entry past the end of the image")
    image = cso(good)
    start = struct.unpack_from("<I", image, 24 + 4 * 16)[0] & 0x7FFFFFFF
    image[start:start + 4] = b"\xff\xff\xff\xff"  # an invalid block type
    yield "cso_block_does_not_inflate", image, invalid("CSO block 16 does not inflate")
    yield "cso_claims_huge", cso(good, total=8 << 30), invalid(
        "CSO index past the end of the image")
    yield "cso_block_size_1000", cso(good)[:16] + struct.pack("<I", 1000) + cso(good)[20:], invalid(
        "CSO block size 1000 is not supported")
    yield "cso_version_3", cso(good, version=3), invalid("CSO version 3 is not supported")


def seeds():
    """(name, bytes): the good images of every kind."""
    image, _ = game()
    yield "iso_root", image
    folder, _ = in_folder()
    yield "iso_folder", folder
    bare, _ = iso({"ONE.ELF": ELF})
    yield "iso_no_cnf", bare
    yield "raw_mode1", raw(image)
    yield "raw_mode2", raw(folder, mode=2)
    yield "cso_root", cso(image)
    yield "cso_folder", cso(folder)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    if "--seeds" in sys.argv:
        for name, data in seeds():
            assert len(data) < 64 * 1024, name
            with open(os.path.join(out, name), "wb") as f:
                f.write(data)
        return
    lines = []
    for name, data, message in cases():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        lines.append("%s\t%s\n" % (name, message))
    with open(os.path.join(out, "manifest.txt"), "w") as f:
        f.writelines(lines)


if __name__ == "__main__":
    main()
