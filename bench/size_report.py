#!/usr/bin/env python3
"""size_report.py MAP [COUNT]: what the launcher image holds, from the
linker's map of it (build/windows/launcher.map): each output section's size,
then the COUNT (default 12) largest objects and symbols of its code and data.
Section sizes are before the file alignment of 512 bytes."""
import collections
import re
import sys


def read_map(path):
    """(output section, input section, object, size, symbols) for every
    input section the map places, with the symbols it defines."""
    pieces, section, pending = [], None, None
    for line in open(path, encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        top = re.match(r"^(\.[\w$.]+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)", line)
        if top:
            section = top.group(1)
            continue
        head = re.match(r"^ (\S+)(?:\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+))?$", line)
        if head and section:
            if head.group(2) is None:  # the name alone: its numbers follow on the next line
                pending = head.group(1)
                continue
            pieces.append([section, head.group(1), head.group(4), int(head.group(3), 16), []])
            pending = None
            continue
        follow = re.match(r"^\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S+)$", line)
        if follow and pending and section:
            pieces.append([section, pending, follow.group(3), int(follow.group(2), 16), []])
            pending = None
            continue
        symbol = re.match(r"^\s+0x[0-9a-f]+\s+(\S+)$", line)
        if symbol and pieces and section:
            pieces[-1][4].append(symbol.group(1))
    return [p for p in pieces if p[3] > 0]


def object_name(path):
    library = re.match(r".*/([^/]+\.a)\((.*)\)$", path)
    if library:
        return "%s(%s)" % (library.group(1), library.group(2))
    return path.split("/")[-1]


def main():
    path = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 12
    pieces = read_map(path)
    sections = collections.Counter()
    objects = collections.Counter()
    symbols = collections.Counter()
    for section, name, obj, size, defined in pieces:
        sections[section] += size
        if section in (".text", ".rdata", ".data"):
            objects[object_name(obj)] += size
            label = defined[0] if defined else name.split("$", 1)[-1]
            symbols["%s %s" % (section, label)] += size
    print("image sections (bytes):", ", ".join("%s %d" % s for s in sorted(sections.items(), key=lambda s: -s[1])))
    print("largest objects (code and data, bytes):")
    for name, size in objects.most_common(count):
        print("  %6d  %s" % (size, name))
    print("largest symbols (bytes):")
    for name, size in symbols.most_common(count):
        print("  %6d  %s" % (size, name))


if __name__ == "__main__":
    main()
