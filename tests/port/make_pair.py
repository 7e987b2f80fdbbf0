#!/usr/bin/env python3
"""Builds two releases of a generated console-style game and a patch file for the first.

For one seed it writes, in OUTDIR: v1.c and v2.c (a few hundred functions and globals; v2 has
functions and globals inserted before and between the originals, a few functions changed, a
few copied, a few changed ones kept unchanged under another name, and its data linked at another address), v1.elf and v2.elf built non-PIC with
Debian's mipsel-linux-gnu-gcc, and patches.pnach with lines written against v1 at
function + offset and global + offset. expected.json holds, per line of the patch file, the
address and value the line must have in v2 (from v2's symbol table), or null where the line
cannot be ported, and whether the line's function or global is the same in both releases.
"""
import json
import os
import random
import subprocess
import sys

GCC = os.environ.get("MIPSEL_GCC", "mipsel-linux-gnu-gcc")
NM = os.environ.get("MIPSEL_NM", "mipsel-linux-gnu-nm")
CFLAGS = ["-EL", "-march=r5900", "-mabi=32", "-msoft-float", "-O2", "-fno-pic", "-mno-abicalls", "-G0",
          "-ffreestanding", "-fno-builtin", "-fno-inline", "-fno-toplevel-reorder",
          "-fno-reorder-functions", "-fno-ipa-cp", "-fno-ipa-icf", "-fno-ipa-sra",
          "-fno-ipa-ra", "-fno-common", "-fno-zero-initialized-in-bss", "-w"]

LINKER_SCRIPT = """ENTRY(entry)
PHDRS
{
    text PT_LOAD FLAGS(5);
    rodata PT_LOAD FLAGS(4);
    data PT_LOAD FLAGS(6);
}
SECTIONS
{
    . = 0x00100000;
    .text : { *(.text .text.*) } :text
    . = ALIGN(0x1000);
    .rodata : { *(.rodata .rodata.*) } :rodata
    . = %s;
    .data : { *(.data .data.*) } :data
    .bss : { *(.bss .bss.* COMMON) } :data
    /DISCARD/ : { *(.reginfo) *(.MIPS.abiflags) *(.pdr) *(.gnu.attributes) *(.comment)
                  *(.mdebug.*) }
}
"""


def function_body(rng, name, globals_, functions, tweak=0):
    """C text of one function using a few globals and calling a few functions."""
    g = [rng.choice(globals_) for _ in range(3)]
    calls = [rng.choice(functions) for _ in range(2)]
    k = [rng.randrange(3, 3000) for _ in range(6)]
    lines = ["int %s(int a, int b)" % name, "{", "    int r = a * %d + %s[%d];" % (
        k[0], g[0][0], k[1] % g[0][1])]
    shapes = rng.sample(range(6), 3)
    for shape in shapes:
        if shape == 0:
            lines.append("    if (r > %d) r -= %s(r, b);" % (k[2], calls[0]))
        elif shape == 1:
            lines.append("    %s[%d] = r ^ %d;" % (g[1][0], k[3] % g[1][1], k[4]))
        elif shape == 2:
            lines.append("    for (int i = 0; i < (b & 7); i++) r += %s[i %% %d] * %d;" % (
                g[2][0], g[2][1], k[5]))
        elif shape == 3:
            lines.append("    r = (r << %d) | (b >> %d);" % (k[1] % 13 + 1, k[2] % 11 + 1))
        elif shape == 4:
            lines.append("    switch (b & 3) { case 0: r += %d; break; case 1: r -= %s(b, a); "
                         "break; default: r ^= %d; }" % (k[3], calls[1], k[0]))
        else:
            lines.append("    while (r > %d) r = r / 3 + %s[%d];" % (
                k[4], g[0][0], k[2] % g[0][1]))
    if tweak:
        lines.append("    r += %d * %s[%d];" % (tweak, g[1][0], 0))
    lines.append("    return r + %s(a, %d);" % (calls[1], k[5] % 97))
    lines.append("}")
    return "\n".join(lines)


def global_text(rng, name, length):
    values = ", ".join(str(rng.randrange(-2**31, 2**31)) for _ in range(length))
    return "int %s[%d] = { %s };" % (name, length, values)


def generate(seed, outdir):
    rng = random.Random(seed)
    n_functions, n_globals = 300, 120
    globals_ = [("g%d" % i, rng.randrange(2, 9)) for i in range(n_globals)]
    functions = ["f%d" % i for i in range(n_functions)]
    # Fixed bodies: each release prints the same text for an unchanged function.
    bodies = {f: function_body(random.Random("%d-%s" % (seed, f)), f, globals_, functions)
              for f in functions}
    gtexts = {g: global_text(random.Random("%d-%s" % (seed, g)), g, n) for g, n in globals_}
    changed = set(rng.sample(functions, 12))
    copied = set(rng.sample([f for f in functions if f not in changed], 6))
    # Some changed functions keep their first release's body in the second under another
    # name, far from where they stood: code that looks exactly like the old place.
    kept_old = set(sorted(changed)[:4])
    changed_globals = set(rng.sample([g for g, _ in globals_], 4))

    def write(version):
        r = random.Random("%d-v%d" % (seed, version))
        extra_functions, extra_globals = [], []
        out = ["/* generated: seed %d, version %d */" % (seed, version)]
        out += ["int %s(int a, int b);" % f for f in functions]
        out += ["extern int %s[%d];" % (g, n) for g, n in globals_]
        data = []
        for i, (g, n) in enumerate(globals_):
            if version == 2 and r.random() < 0.3:
                name = "h_data%d" % i
                data.append(global_text(r, name, r.randrange(1, 7)))
            if version == 2 and g in changed_globals:
                data.append(global_text(random.Random("%d-%s-x" % (seed, g)), g, n))
            else:
                data.append(gtexts[g])
        code = []
        for i, f in enumerate(functions):
            if version == 2 and r.random() < 0.3:
                code.append(function_body(r, "h%d" % i, globals_, functions))
            if version == 2 and f in changed:
                code.append(function_body(random.Random("%d-%s" % (seed, f)), f, globals_,
                                          functions, tweak=r.randrange(2, 99)))
            else:
                code.append(bodies[f])
            if version == 2 and f in copied:
                code.append(bodies[f].replace("int %s(" % f, "int %s_copy(" % f, 1))
        if version == 2:
            code += [bodies[f].replace("int %s(" % f, "int %s_old(" % f, 1)
                     for f in sorted(kept_old)]
        out += data
        out.append("int entry(void) { return f0(1, 2); }")
        out += code
        return "\n".join(out) + "\n"

    symbols = {}
    for version, data_address in ((1, "0x00200000"), (2, "0x00260000")):
        base = os.path.join(outdir, "v%d" % version)
        with open(base + ".c", "w") as f:
            f.write(write(version))
        with open(base + ".ld", "w") as f:
            f.write(LINKER_SCRIPT % data_address)
        subprocess.run([GCC] + CFLAGS + ["-c", "-o", base + ".o", base + ".c"], check=True)
        subprocess.run([GCC, "-EL", "-nostdlib", "-static", "-Wl,-T," + base + ".ld",
                        "-Wl,-z,max-page-size=0x1000", "-Wl,--build-id=none", "-o", base + ".elf", base + ".o"],
                       check=True)
        nm = subprocess.run([NM, "-S", "--defined-only", base + ".elf"], check=True,
                            capture_output=True, text=True).stdout
        table = {}
        for line in nm.splitlines():
            parts = line.split()
            if len(parts) == 4:
                table[parts[3]] = (int(parts[0], 16), int(parts[1], 16))
        symbols[version] = table
    with open(os.path.join(outdir, "v1.elf"), "rb") as f:
        data = f.read()
    checksum = 0
    for i in range(0, len(data) // 4 * 4, 4):
        checksum ^= int.from_bytes(data[i:i + 4], "little")
    symbols["checksum"] = checksum
    return rng, symbols, functions, globals_, changed, copied, changed_globals


def patch_lines(rng, symbols, functions, globals_, changed, copied, changed_globals, count):
    """The patch file's lines and, per line, what the port must give."""
    v1, v2 = symbols[1], symbols[2]
    lines = ["gametitle=Generated game (%08X)" % symbols["checksum"], "author=generator",
             "description=patches at function and global offsets", "", "[code]"]
    expected = [None] * len(lines)

    def add(text, want):
        lines.append(text)
        expected.append(want)

    def pnach(place, address, width, value):
        style = rng.random()
        names = {1: "byte", 2: "short", 4: "word"}
        if style < 0.15:
            digit = {1: 0, 2: 1, 4: 2}[width]
            return "%X%07X %08X //raw" % (digit, address, value)
        if style < 0.3:
            digit = {1: 0, 2: 1, 4: 2}[width]
            return "patch=%d,EE,%X%07X,extended,%08X" % (place, digit, address, value)
        return "patch=%d,EE,%08X,%s,%08X //note" % (place, address, names[width], value)

    def jal(address):
        return 0x0C000000 | (address >> 2 & 0x03FFFFFF)

    made = 0
    while made < count:
        kind = rng.random()
        if kind < 0.55:
            f = rng.choice(functions)
            start, size = v1[f]
            width = rng.choice([4, 4, 4, 2, 1])
            offset = rng.randrange(0, size // width) * width
            unchanged = f not in changed and f not in copied
            target2 = v2[f][0] + offset
            value = rng.randrange(0, 1 << (8 * width))
            want_value = value
            if width == 4 and rng.random() < 0.3:
                callee = rng.choice(functions)
                value = jal(v1[callee][0])
                want_value = jal(v2[callee][0])
            elif width == 4 and value >> 26 in (2, 3, 15):
                # A random jump or lui would be read as an address to carry over.
                value &= 0x03FFFFFF
                want_value = value
            add(pnach(1, start + offset, width, value),
                {"address": target2, "value": want_value, "unchanged": unchanged,
                 "what": "%s+%d" % (f, offset)})
        elif kind < 0.6:
            # A lui/addiu pair that loads the address of a global, written over two words.
            f = rng.choice(functions)
            start, size = v1[f]
            if size < 16:
                continue
            offset = rng.randrange(0, size // 4 - 1) * 4
            g, n = rng.choice(globals_)
            a1, a2 = v1[g][0], v2[g][0]
            hi = lambda a: 0x3C020000 | ((a + 0x8000) >> 16 & 0xFFFF)
            lo = lambda a: 0x24420000 | (a & 0xFFFF)
            unchanged = f not in changed and f not in copied
            ok = g not in changed_globals
            add(pnach(1, start + offset, 4, hi(a1)),
                {"address": v2[f][0] + offset, "value": hi(a2), "unchanged": unchanged and ok,
                 "what": "%s+%d lui %s" % (f, offset, g)})
            add(pnach(1, start + offset + 4, 4, lo(a1)),
                {"address": v2[f][0] + offset + 4, "value": lo(a2),
                 "unchanged": unchanged and ok, "what": "%s+%d addiu %s" % (f, offset + 4, g)})
            made += 1
        elif kind < 0.97:
            g, n = rng.choice(globals_)
            start, size = v1[g]
            width = rng.choice([4, 4, 2, 1])
            offset = rng.randrange(0, size // width) * width
            value = rng.randrange(0, 1 << (8 * width))
            if 0x00100000 <= value < 0x00400000:
                value ^= 0x80000000  # a pointer into the game would be carried over
            unchanged = g not in changed_globals
            add(pnach(0, start + offset, width, value),
                {"address": v2[g][0] + offset, "value": value,
                 "unchanged": unchanged, "what": "%s+%d" % (g, offset)})
        else:
            # Outside the file: the stack area of the console.
            add("patch=1,EE,%08X,word,00000000" % (0x01F00000 + 4 * rng.randrange(256)),
                {"address": None, "value": None, "unchanged": False, "what": "outside"})
        made += 1
    return lines, expected


def main():
    seed, outdir = int(sys.argv[1]), sys.argv[2]
    count = int(sys.argv[3]) if len(sys.argv) > 3 else 220
    os.makedirs(outdir, exist_ok=True)
    rng, symbols, functions, globals_, changed, copied, changed_globals = generate(seed, outdir)
    lines, expected = patch_lines(rng, symbols, functions, globals_, changed, copied,
                                  changed_globals, count)
    with open(os.path.join(outdir, "patches.pnach"), "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    with open(os.path.join(outdir, "expected.json"), "w") as f:
        json.dump(expected, f, indent=0)


if __name__ == "__main__":
    main()
