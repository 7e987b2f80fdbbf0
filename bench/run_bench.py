#!/usr/bin/env python3
"""Quarnel's scan benchmark, run by `make bench`.

    run_bench.py BUILD_DIR TOOLS_DIR

BUILD_DIR holds quarnel-cli; TOOLS_DIR holds gen_elf and engine_bench, and receives the
generated inputs (a 64 MiB and a 4 MiB ELF with their pattern sets). Prints the in-process scan
figures, the whole-process times of quarnel-cli next to `yara -s -p 1` on the same file and
patterns, peak memory, rendering times, and checks that Quarnel's word-aligned offsets in
"Little" order equal yara's word-aligned offsets. Exits 1 when a result differs (between the
fast scan and the literal engine, or between Quarnel and yara); the speed figures are reported,
not enforced, as the machine may be shared.
"""

import os
import re
import shutil
import subprocess
import sys
import time

SETS = [1, 10, 100, 1000]
ALIGNS = ["word", "byte"]
SEGMENT_START = 0x1000  # where gen_elf puts the executable segment


def run_timed(command, repeats, stdout_path=None):
    """Best wall time of `repeats` runs; the output of the last one goes to stdout_path."""
    best = None
    for _ in range(repeats):
        with open(stdout_path or os.devnull, "wb") as out:
            start = time.perf_counter()
            result = subprocess.run(command, stdout=out, stderr=subprocess.PIPE)
            elapsed = time.perf_counter() - start
        if result.returncode not in (0, 1):
            sys.exit("bench: %s failed: %s" % (command[0], result.stderr.decode(errors="replace")))
        best = elapsed if best is None else min(best, elapsed)
    return best


def peak_memory_kib(command):
    """Peak resident memory of one run, from GNU time."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    lines = result.stderr.decode().strip().splitlines()
    return int(lines[-1]) if lines and lines[-1].isdigit() else None


def pattern_lengths(path):
    """Byte length of each pattern line (digits and x, two per byte)."""
    lengths = []
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line:
                lengths.append(len(line) // 2)
    return lengths


def quarnel_offsets(path):
    """(pattern index, offset) of every match line of an Offset-format result."""
    found = set()
    index = -1
    with open(path, "rb") as f:
        for line in f.read().decode("ascii", errors="replace").split("\r\n"):
            if line.startswith("//Search pattern: "):
                index += 1
            elif re.match(r"^[0-9A-F]{8} //", line):
                found.add((index, int(line[:8], 16)))
    return found


def yara_offsets(path, lengths, file_size):
    """(pattern index, offset) of yara's matches that Quarnel's word-aligned scan can see."""
    found = set()
    with open(path) as f:
        for line in f:
            m = re.match(r"^0x([0-9a-f]+):\$p(\d+):", line)
            if not m:
                continue
            offset, index = int(m.group(1), 16), int(m.group(2))
            if offset % 4 == 0 and offset >= SEGMENT_START and \
                    offset + lengths[index] <= file_size:
                found.add((index, offset))
    return found


def verdict(ok):
    return "met" if ok else "NOT MET"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build, tools = sys.argv[1], sys.argv[2]
    cli = os.path.join(build, "quarnel-cli")
    large = os.path.join(tools, "large")
    small = os.path.join(tools, "small")
    for folder, mib in ((large, 64), (small, 4)):
        if not os.path.exists(os.path.join(folder, "p1000.txt")):
            os.makedirs(folder, exist_ok=True)
            subprocess.run([os.path.join(tools, "gen_elf"), folder, str(mib)], check=True)
    elf = os.path.join(large, "code.elf")
    file_size = os.path.getsize(elf)
    segment_bytes = file_size - SEGMENT_START
    failed = False

    print("== In-process scan (find_matches, best of 7), 64 MiB, one executable segment")
    figures = {}
    engine = subprocess.run([os.path.join(tools, "engine_bench"), large, small],
                            stdout=subprocess.PIPE, check=True)
    for line in engine.stdout.decode().splitlines():
        if line.startswith("#"):
            print(line[2:])
        else:
            key, value, _unit = line.split()
            figures[key] = float(value)

    yara = shutil.which("yara")
    print()
    print("== Whole process: quarnel-cli --endian little --format offset (best of 5)%s"
          % (", next to yara -s -p 1 (best of 3)" if yara else "; yara is not installed"))
    cli_times = {}
    yara_times = {}
    for n in SETS:
        patterns = os.path.join(large, "p%d.txt" % n)
        rules = os.path.join(large, "p%d.yar" % n)
        out = {}
        for align in ALIGNS:
            out[align] = os.path.join(tools, "quarnel-%d-%s.txt" % (n, align))
            cli_times[n, align] = run_timed(
                [cli, "--endian", "little", "--align", align, "--format", "offset",
                 "--search", patterns, elf], 5, out[align])
        line = "%4d patterns: word %6.1f ms, byte %6.1f ms" % (
            n, cli_times[n, "word"] * 1e3, cli_times[n, "byte"] * 1e3)
        if yara:
            yara_out = os.path.join(tools, "yara-%d.txt" % n)
            yara_times[n] = run_timed([yara, "-s", "-p", "1", rules, elf], 3, yara_out)
            line += "; yara %6.1f ms: %.1fx (word), %.1fx (byte)" % (
                yara_times[n] * 1e3, yara_times[n] / cli_times[n, "word"],
                yara_times[n] / cli_times[n, "byte"])
            ours = quarnel_offsets(out["word"])
            theirs = yara_offsets(yara_out, pattern_lengths(patterns), file_size)
            same = ours == theirs
            failed |= not same
            line += "; word offsets %s (%d)" % ("equal yara's" if same else "DIFFER from yara's",
                                                len(ours))
            if not same:
                line += " only Quarnel: %s, only yara: %s" % (
                    sorted(ours - theirs)[:5], sorted(theirs - ours)[:5])
        print(line)

    command = [cli, "--endian", "little", "--align", "byte", "--format", "offset",
               "--search", os.path.join(large, "p1000.txt"), elf]
    peak = peak_memory_kib(command)
    text = os.path.getsize(os.path.join(tools, "quarnel-1000-byte.txt"))
    limit = file_size + (64 << 20) + text
    print()
    if peak is None:
        print("Peak memory: /usr/bin/time is not installed")
    else:
        print("Peak memory of quarnel-cli (1000 patterns, byte): %.1f MiB; limit file + 64 MiB + "
              "text = %.1f MiB" % (peak / 1024, limit / 2**20))

    for key in figures:
        if key.startswith("same_") and figures[key] != 1:
            failed = True

    print()
    print("== Targets")
    memchr = figures["memchr"]
    rows = [
        ("1000 patterns, byte: scan >= 1 GB/s", "%.2f GB/s" % figures["scan_1000_byte"],
         figures["scan_1000_byte"] >= 1),
        ("1000 patterns, word: scan >= 4 GB/s", "%.2f GB/s" % figures["scan_1000_word"],
         figures["scan_1000_word"] >= 4),
        ("1 pattern, word: scan >= memchr / 2", "%.2f GB/s vs memchr %.2f GB/s" % (
            figures["scan_1_word"], memchr), figures["scan_1_word"] >= memchr / 2),
        ("1000 patterns: >= 100x the literal engine (4 MiB)", "word %.0fx, byte %.0fx" % (
            figures["speedup_1000_word"], figures["speedup_1000_byte"]),
         min(figures["speedup_1000_word"], figures["speedup_1000_byte"]) >= 100),
    ]
    if yara:
        ratio = yara_times[1000] / cli_times[1000, "byte"]
        rows.append(("1000 patterns, byte: whole process >= 5x yara -s -p 1",
                     "%.1fx (%.1f ms vs %.1f ms)" % (ratio, cli_times[1000, "byte"] * 1e3,
                                                     yara_times[1000] * 1e3), ratio >= 5))
    if peak is not None:
        rows.append(("peak memory < file + 64 MiB + result text",
                     "%.1f MiB < %.1f MiB" % (peak / 1024, limit / 2**20), peak * 1024 < limit))
    per_match = figures["render_1000000"] / figures["render_100000"]
    rows.append(("rendering linear (1,000,000 vs 100,000 matches)",
                 "%.1f ms vs %.1f ms (x%.1f)" % (figures["render_1000000"] * 1e3,
                                                 figures["render_100000"] * 1e3, per_match),
                 per_match < 20))
    for name, value, ok in rows:
        print("%-55s %-40s %s" % (name, value, verdict(ok)))
    print("results identical to the literal engine and to yara: %s"
          % ("no" if failed else "yes"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
