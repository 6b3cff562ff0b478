#!/usr/bin/env python3
"""Resident memory of a running process by kind of mapping, in KB.

    python3 tools/smaps_summary.py PID

Kinds: the C library's main heap ([heap]); its thread arenas (anonymous
read-write mappings at 64 MiB boundaries, where glibc places them); code
made at run time (anonymous executable mappings: the shader compiler's);
other anonymous mappings (large malloc blocks, GPU-side buffers of a
software renderer); the stack; and files, by library (Mesa, LLVM, X
libraries, lifesim itself, the rest).
"""
import re
import sys

ARENA_ALIGN = 64 << 20
LIBRARIES = [
    ("mesa", re.compile(r"dri|gallium|mesa|libGL|libglapi|libGLX")),
    ("llvm", re.compile(r"libLLVM")),
    ("xlib", re.compile(r"libX|libxcb")),
    ("lifesim", re.compile(r"/lifesim$")),
]


def kind(start, perms, path):
    if path == "[heap]":
        return "c-heap-main"
    if path.startswith("[stack"):
        return "stack"
    if path.startswith("["):
        return "other"
    if not path:
        if "x" in perms:
            return "anon-exec (jit code)"
        if start % ARENA_ALIGN == 0 and "rw" in perms:
            return "c-heap-thread-arenas"
        return "anon (large blocks, buffers)"
    for name, pattern in LIBRARIES:
        if pattern.search(path):
            return "file:" + name
    return "file:other"


def summary(pid):
    totals = {}
    current = None
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            head = re.match(r"([0-9a-f]+)-[0-9a-f]+ (\S+) \S+ \S+ \S+\s*(.*)$", line)
            if head:
                current = kind(int(head.group(1), 16), head.group(2), head.group(3).strip())
                continue
            if line.startswith("Rss:") and current:
                totals[current] = totals.get(current, 0) + int(line.split()[1])
    return totals


def main():
    totals = summary(sys.argv[1])
    for name in sorted(totals):
        print(f"{name:32} {totals[name]:8d}")
    print(f"{'total':32} {sum(totals.values()):8d}")


if __name__ == "__main__":
    main()
