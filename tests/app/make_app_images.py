#!/usr/bin/env python3
"""Usage: make_app_images.py OUTDIR SAMPLE_ELF. Writes the disc images that the window tests
open: the sample program as the boot executable SLUS_203.12 of an ISO, a raw (Mode 2) BIN with
its cue sheet, and a CSO image, a copy of the loose sample, and Bad.iso, whose root folder lies
past the image's end. Made here rather than in the tests because the Windows tests run under
Wine, which has no xorriso; the writers are the hostile-image script's own."""
import os
import shutil
import sys

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "hostile"))
import make_hostile_images as images  # noqa: E402


def main():
    out, sample = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    with open(sample, "rb") as f:
        elf = f.read()
    iso, _ = images.iso({"SYSTEM.CNF": images.CNF, "SLUS_203.12": elf, "README.TXT": b"hello\n"})
    bad, at = images.game()
    files = {
        "Game.iso": iso,
        "Game.bin": images.raw(iso, mode=2),
        "Game.cue": b'FILE "Game.bin" BINARY\r\n  TRACK 01 MODE2/2352\r\n    INDEX 01 00:00:00\r\n',
        "Game.cso": images.cso(iso),
        "Bad.iso": images.bend(bad, at[""], extent=0x7FFFFFF0),
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    shutil.copyfile(sample, os.path.join(out, "sample.elf"))


if __name__ == "__main__":
    main()
