#!/usr/bin/env python3
"""Ports the generated patch files of one or more seeds and checks every line against the
second release's symbol table.

usage: check_port.py CLI DIR...   (each DIR made by make_pair.py)

Fails when a line is ported to a wrong address or with a wrong value, when fewer than 90 % of
the lines whose function or global is the same in both releases are ported, when a line is
neither ported nor reported, when the summary or exit status is wrong, or when apply followed
by a search does not find exactly the written words. Prints the figures of each seed.
"""
import json
import os
import re
import subprocess
import sys

PNACH = re.compile(r"^patch=(\d+),EE,([0-9A-Fa-f]+),(\w+),([0-9A-Fa-f]+)")
RAW = re.compile(r"^([0-9A-Fa-f]{8}) ([0-9A-Fa-f]{8})")


def parse(line):
    """(address, value) of a patch line, or None for anything else."""
    m = PNACH.match(line)
    if m:
        address = int(m.group(2), 16)
        if m.group(3) == "extended":
            address &= 0x0FFFFFFF
        return address, int(m.group(4), 16)
    m = RAW.match(line)
    if m:
        return int(m.group(1), 16) & 0x0FFFFFFF, int(m.group(2), 16)
    return None


def checksum(path):
    data = open(path, "rb").read()
    total = 0
    for i in range(0, len(data) // 4 * 4, 4):
        total ^= int.from_bytes(data[i:i + 4], "little")
    return total


def check_port(cli, work):
    failures = []
    out = os.path.join(work, "ported.pnach")
    run = subprocess.run([cli, "port", "--from", os.path.join(work, "v1.elf"), "--patches",
                          os.path.join(work, "patches.pnach"), "--output", out,
                          os.path.join(work, "v2.elf")], capture_output=True, text=True)
    if run.returncode not in (0, 1):
        return ["port failed (%d): %s" % (run.returncode, run.stderr)], None
    source = open(os.path.join(work, "patches.pnach"), newline="").read().split("\r\n")
    ported = open(out, newline="").read().split("\r\n")
    expected = json.load(open(os.path.join(work, "expected.json")))
    if len(ported) != len(source):
        return ["%d lines in, %d out" % (len(source), len(ported))], None
    wrong = ok = reported = unchanged = unchanged_ok = total = 0
    for i, want in enumerate(expected):
        if want is None:
            continue
        total += 1
        unchanged += want["unchanged"]
        got = parse(ported[i])
        if ported[i].startswith("// not ported ("):
            reported += 1
            if ported[i][ported[i].index("): ") + 3:] != source[i]:
                failures.append("line %d: the comment lost the line: %s" % (i + 1, ported[i]))
            continue
        if got is None:
            failures.append("line %d neither ported nor reported: %s" % (i + 1, ported[i]))
            continue
        if want["address"] is None or got != (want["address"], want["value"]):
            wrong += 1
            failures.append("line %d (%s) ported wrongly: %s, want %s %s" % (
                i + 1, want["what"], ported[i], want["address"] and "%08X" % want["address"],
                want["value"] is not None and "%08X" % want["value"]))
            continue
        ok += 1
        unchanged_ok += want["unchanged"]
    title = "gametitle=Generated game (%08X)" % checksum(os.path.join(work, "v2.elf"))
    if ported[0] != title:
        failures.append("gametitle not updated: %s" % ported[0])
    summary = run.stderr.strip().splitlines()[-1]
    if not summary.startswith("%d of %d lines ported" % (ok, total)):
        failures.append("summary '%s' does not say %d of %d" % (summary, ok, total))
    if run.returncode != (0 if ok == total else 1):
        failures.append("exit status %d" % run.returncode)
    rate = unchanged_ok / unchanged if unchanged else 0
    if rate < 0.9:
        failures.append("only %d of %d unchanged lines ported" % (unchanged_ok, unchanged))
    figures = ("%s: %d lines, %d ported, %d reported, %d wrong; unchanged: %d of %d ported "
               "(%.1f %%); %s" % (os.path.basename(work), total, ok, reported, wrong,
                                 unchanged_ok, unchanged, 100 * rate, summary))
    return failures, figures


def check_apply(cli, work):
    """Applies the patch file to v1 and searches the copy for the written words."""
    failures = []
    out = os.path.join(work, "applied.elf")
    if os.path.exists(out):
        os.remove(out)
    run = subprocess.run([cli, "apply", "--patches", os.path.join(work, "patches.pnach"),
                          "--output", out, os.path.join(work, "v1.elf")],
                         capture_output=True, text=True)
    if run.returncode != 1 or not os.path.exists(out):
        return ["apply: status %d, output %s: %s" % (run.returncode, os.path.exists(out),
                                                     run.stderr)]
    # The last write to each word decides what it holds.
    words = {}
    for line in open(os.path.join(work, "patches.pnach"), newline="").read().split("\r\n"):
        got = parse(line)
        if got and ("word" in line or line[:1] == "2" and " " in line[:9] or
                    ",extended," in line and line.split(",")[2][0] == "2"):
            words[got[0]] = got[1]
        elif got:
            for w in list(words):
                if w <= got[0] < w + 4:
                    del words[w]
    inside = {a: v for a, v in words.items() if a < 0x01000000}
    patterns = sorted(set(inside.values()))
    search = os.path.join(work, "search.txt")
    with open(search, "w") as f:
        f.write("".join("%08X\n" % v for v in patterns))
    found = {}
    for area in ("exec", "data"):
        result = subprocess.run([cli, "--endian", "big", "--format", "address", "--range", area,
                                 "--search", search, out], capture_output=True, text=True)
        for line in result.stdout.splitlines():
            m = re.match(r"^([0-9A-F]{8}) //([0-9A-F]{8})$", line)
            if m:
                found[int(m.group(1), 16)] = int(m.group(2), 16)
    for address, value in inside.items():
        if found.get(address) != value:
            failures.append("apply: %08X holds %s, want %08X" % (
                address, found.get(address) and "%08X" % found[address], value))
    return failures


def main():
    cli = sys.argv[1]
    failures = []
    for work in sys.argv[2:]:
        port_failures, figures = check_port(cli, work)
        failures += port_failures
        failures += check_apply(cli, work)
        if figures:
            print(figures)
    for failure in failures[:40]:
        print("FAIL " + failure)
    passed = 0 if failures else len(sys.argv) - 2
    print("%d passed, %d failed" % (passed, len(sys.argv) - 2 - passed))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
