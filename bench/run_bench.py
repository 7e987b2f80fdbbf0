#!/usr/bin/env python3
"""Quarnel's scan benchmark, run by `make bench`.

    run_bench.py BUILD_DIR TOOLS_DIR

BUILD_DIR holds quarnel-cli; TOOLS_DIR holds gen_elf and engine_bench, and receives the
generated inputs (a 64 MiB and a 4 MiB ELF with pattern sets of 1 to 100,000 patterns, and 200
ELF files of 4 MiB). Prints the in-process scan figures, the whole-process times of quarnel-cli
next to `yara -w -s -p 1` on the same file and patterns (the two alternated, best of each) and
next to `cat FILE >/dev/null`, one quarnel-cli call over the 200 files next to
`yara -w -s -p 2 -r DIR` and a shell loop of one quarnel-cli per file, peak memory, rendering
times; checks that Quarnel's word-aligned offsets in "Little" order equal yara's word-aligned
offsets, and that the fast scan's list for 100,000 patterns equals the literal engine's on the
4 MiB file (the literal engine runs over slices of the list in one process per core, and the
slices are merged into its order; this alone takes some minutes). Exits 1 when a result
differs; the speed figures are reported, not enforced, as the machine may be shared.
Set BENCH_SKIP_LITERAL=1 to leave out the slow literal check.
"""

import os
import re
import shutil
import subprocess
import sys
import time

SETS = [1, 10, 100, 1000, 10000, 100000]
FILES = 200  # files of 4 MiB for the many-files case
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
        # quarnel-cli exits 1 when nothing matched; yara exits 1 on errors, with a message.
        if result.returncode not in (0, 1) or b"error" in result.stderr:
            sys.exit("bench: %s failed: %s" % (command[0], result.stderr.decode(errors="replace")))
        best = elapsed if best is None else min(best, elapsed)
    return best


def run_alternated(commands, repeats, outputs):
    """Best wall time of each command, the commands taking turns so that a busy moment of the
    machine hits all of them alike."""
    best = [None] * len(commands)
    for _ in range(repeats):
        for i, command in enumerate(commands):
            if command is None:
                continue
            t = run_timed(command, 1, outputs[i])
            best[i] = t if best[i] is None else min(best[i], t)
    return best


def run_shell_timed(script, repeats):
    """Best wall time of a shell script."""
    return run_timed(["sh", "-c", script], repeats)


def literal_check(tools, small, patterns, step):
    """The fast scan's list against the literal engine's, made from slices of the list in one
    process per core and merged in the engine's order (word, pattern, byte of the word)."""
    bench = os.path.join(tools, "engine_bench")
    elf = os.path.join(small, "code.elf")
    count = len(pattern_lengths(patterns))
    slice_size = 5000
    cores = os.cpu_count() or 1
    pending = list(range(0, count, slice_size))
    running = []
    parts = []
    while pending or running:
        while pending and len(running) < cores:
            start = pending.pop(0)
            proc = subprocess.Popen([bench, "--list", "literal", elf, patterns, str(step),
                                     str(start), str(slice_size)], stdout=subprocess.PIPE)
            running.append(proc)
        proc = running.pop(0)
        out, _ = proc.communicate()
        if proc.returncode != 0:
            sys.exit("bench: the literal engine failed")
        parts.append(out)
    literal = []
    for out in parts:
        for line in out.decode().split("\n"):
            if line:
                offset, index = map(int, line.split())
                literal.append((offset // 4, index, offset % 4))
    literal.sort()
    fast = subprocess.run([bench, "--list", "fast", elf, patterns, str(step), "0", str(count)],
                          stdout=subprocess.PIPE, check=True).stdout.decode().split("\n")
    fast = [tuple(map(int, line.split())) for line in fast if line]
    fast = [(offset // 4, index, offset % 4) for offset, index in fast]
    return fast == literal, len(fast)


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


def match_lines(path):
    """The number of match lines (an address, then a comment) of a result."""
    with open(path, "rb") as f:
        return len(re.findall(rb"(?m)^[0-9A-F]{8} //", f.read()))


def verdict(ok):
    return "met" if ok else "NOT MET"


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    build, tools = sys.argv[1], sys.argv[2]
    cli = os.path.join(build, "quarnel-cli")
    large = os.path.join(tools, "large")
    small = os.path.join(tools, "small")
    files = os.path.join(tools, "files")
    for folder, mib in ((large, 64), (small, 4)):
        if not os.path.exists(os.path.join(folder, "p100000.txt")):
            os.makedirs(folder, exist_ok=True)
            subprocess.run([os.path.join(tools, "gen_elf"), folder, str(mib)], check=True)
    if not os.path.exists(os.path.join(files, "f%03d.elf" % (FILES - 1))):
        os.makedirs(files, exist_ok=True)
        subprocess.run([os.path.join(tools, "gen_elf"), "--files", files, str(FILES), "4"],
                       check=True)
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
    print("== Whole process: quarnel-cli --endian little --format offset%s (best of 5, 2 from "
          "10,000 patterns on)" % (", alternated with yara -w -s -p 1" if yara else
                                    "; yara is not installed"))
    cli_times = {}
    yara_times = {}
    for n in SETS:
        patterns = os.path.join(large, "p%d.txt" % n)
        rules = os.path.join(large, "p%d.yar" % n)
        out = {align: os.path.join(tools, "quarnel-%d-%s.txt" % (n, align)) for align in ALIGNS}
        yara_out = os.path.join(tools, "yara-%d.txt" % n)
        commands = [[cli, "--endian", "little", "--align", align, "--format", "offset",
                     "--search", patterns, elf] for align in ALIGNS]
        commands.append([yara, "-w", "-s", "-p", "1", rules, elf] if yara else None)
        repeats = 5 if n <= 1000 else 2 if n <= 10000 else 1
        times = run_alternated(commands, repeats, [out["word"], out["byte"], yara_out])
        cli_times[n, "word"], cli_times[n, "byte"] = times[0], times[1]
        line = "%6d patterns: word %7.1f ms, byte %7.1f ms" % (
            n, cli_times[n, "word"] * 1e3, cli_times[n, "byte"] * 1e3)
        if yara:
            yara_times[n] = times[2]
            line += "; yara %7.1f ms: %.1fx (word), %.1fx (byte)" % (
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

    cat_time = run_shell_timed("cat '%s' >/dev/null" % elf, 5)
    one = run_timed([cli, "--endian", "little", "--align", "byte", "--format", "offset",
                     "--search", os.path.join(large, "p1.txt"), elf], 5)
    print("1 pattern, byte, whole process: %.1f ms; cat FILE >/dev/null: %.1f ms" % (
        one * 1e3, cat_time * 1e3))

    print()
    print("== %d files of 4 MiB, 1000 patterns, byte alignment (best of 3, alternated)" % FILES)
    names = sorted(os.path.join(files, f) for f in os.listdir(files) if f.endswith(".elf"))
    p1000 = os.path.join(large, "p1000.txt")
    many = [cli, "--endian", "little", "--align", "byte", "--format", "address",
            "--search", p1000] + names
    loop = ["sh", "-c", "for f in '%s'/*.elf; do '%s' --endian little --align byte "
            "--format address --search '%s' \"$f\"; done" % (files, cli, p1000)]
    commands = [many, loop,
                [yara, "-w", "-s", "-p", "2", "-r", os.path.join(large, "p1000.yar"), files]
                if yara else None]
    many_out = [os.path.join(tools, "many-%s.txt" % k) for k in ("one", "loop", "yara")]
    many_times = run_alternated(commands, 3, many_out)
    counts = [match_lines(path) for path in many_out[:2]]
    same = counts[0] == counts[1] and counts[0] > 0
    failed |= not same
    line = "one quarnel-cli call: %.1f ms; one call per file: %.1f ms (%d and %d match lines)" % (
        many_times[0] * 1e3, many_times[1] * 1e3, counts[0], counts[1])
    if yara:
        line += "; yara -p 2 -r: %.1f ms (%.1fx)" % (many_times[2] * 1e3,
                                                     many_times[2] / many_times[0])
    print(line)

    literal_same = None
    if not os.environ.get("BENCH_SKIP_LITERAL"):
        print()
        t0 = time.perf_counter()
        literal_same, found = literal_check(tools, small,
                                            os.path.join(small, "p100000.txt"), 1)
        failed |= not literal_same
        print("100000 patterns, byte, 4 MiB: the fast list (%d matches) %s the literal "
              "engine's (%.0f s)" % (found, "equals" if literal_same else "DIFFERS from",
                                     time.perf_counter() - t0))

    command = [cli, "--endian", "little", "--align", "byte", "--format", "offset",
               "--search", os.path.join(large, "p1000.txt"), elf]
    peak = peak_memory_kib(command)
    peak_large = peak_memory_kib(command[:-2] + [os.path.join(large, "p100000.txt"), elf])
    if peak_large is not None:
        print("Peak memory of quarnel-cli (100000 patterns, byte): %.1f MiB" % (peak_large / 1024))
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
        for n in (1000, 10000):
            ratio = yara_times[n] / cli_times[n, "byte"]
            rows.append(("%d patterns, byte: whole process >= 10x yara -s -p 1" % n,
                         "%.1fx (%.1f ms vs %.1f ms)" % (ratio, cli_times[n, "byte"] * 1e3,
                                                         yara_times[n] * 1e3), ratio >= 10))
        rows.append(("100000 patterns, byte: finishes (time, yara's)",
                     "%.2f s vs %.2f s" % (cli_times[100000, "byte"], yara_times[100000]), True))
        ratio = many_times[2] / many_times[0]
        rows.append(("%d files x 4 MiB: one call >= 5x yara -p 2 -r" % FILES,
                     "%.1fx (%.1f ms vs %.1f ms)" % (ratio, many_times[0] * 1e3,
                                                     many_times[2] * 1e3), ratio >= 5))
    if literal_same is not None:
        rows.append(("100000 patterns = literal engine (4 MiB)", "yes" if literal_same else "no",
                     literal_same))
    if peak is not None:
        rows.append(("peak memory < file + 64 MiB + result text",
                     "%.1f MiB < %.1f MiB" % (peak / 1024, limit / 2**20), peak * 1024 < limit))
    per_match = figures["render_1000000"] / figures["render_100000"]
    rows.append(("rendering linear (1,000,000 vs 100,000 matches)",
                 "%.1f ms vs %.1f ms (x%.1f)" % (figures["render_1000000"] * 1e3,
                                                 figures["render_100000"] * 1e3, per_match),
                 per_match < 20))
    for name, value, ok in rows:
        print("%-58s %-40s %s" % (name, value, verdict(ok)))
    print("results identical to the literal engine and to yara: %s"
          % ("no" if failed else "yes"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
