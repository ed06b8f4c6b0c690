#!/usr/bin/env python3
"""Lays out a commit of N source files for the side-by-side benchmarks.

usage: make_commit.py SOURCE_LIST COUNT FOLDER

SOURCE_LIST names real C sources and headers of the machine, one per line.
File i of the commit takes the bytes of a source (cycling through the list;
later rounds add _r1, _r2, ... to the names) at the source's own relative
path, with two changes that make the selection do real work: every other
file is named .c and the others .h (a Debian install holds only about a
hundred .c files), and one file in ten lies in a test/ folder (half of those
are .c files, which the exclude pattern has to drop).

A source whose path ends with the whole path of another file of the commit
(include/node/openssl/.../include/openssl/x509.h and include/openssl/x509.h)
is left out: the trigger pairs files and versions by such tails, and a real
workspace never holds both.

Writes the files below FOLDER, the trigger's protocol input FOLDER/../input-N.txt
for the gate (checker "bench-checker", file lines relative to FOLDER) and the
list of files the selection keeps, FOLDER/../selected-N.txt, sorted.
"""
import os
import re
import shutil
import sys

SAFE_PATH = re.compile(r"^[A-Za-z0-9._+/-]+$")


def read_sources(list_path):
    with open(list_path, encoding="utf-8", errors="replace") as listing:
        paths = [line.rstrip("\n") for line in listing]
    return [p for p in paths if SAFE_PATH.match(p) and os.path.isfile(p)]


def commit_path(index, round_number, source):
    relative = source.lstrip("/")
    if relative.startswith("usr/"):
        relative = relative[4:]
    folder, name = os.path.split(relative)
    stem = os.path.splitext(name)[0]
    if round_number > 0:
        stem += "_r%d" % round_number
    extension = ".c" if index % 2 == 0 else ".h"
    if index % 10 in (4, 7):
        folder = os.path.join(folder, "test")
    return os.path.join(folder, stem + extension)


def tails(path):
    """The paths that PATH ends with, after each of its separators."""
    return [path[at + 1:] for at, c in enumerate(path) if c == "/"]


class Layout:
    """The commit's paths, none of which ends with another one."""

    def __init__(self):
        self.paths = set()
        self.tails = set()

    def take(self, path):
        own_tails = tails(path)
        if path in self.paths or path in self.tails:
            return False
        if any(t in self.paths for t in own_tails):
            return False
        self.paths.add(path)
        self.tails.update(own_tails)
        return True


def is_selected(path):
    # The gate reads "**/test/**" as "any text, then test and a separator",
    # so a folder whose name merely ends in "test" (gtest, latest) is
    # excluded too; the peers are configured to select the same files.
    folders = path.split("/")[:-1]
    return path.endswith(".c") and not any(f.endswith("test") for f in folders)


def main():
    global SOURCES
    list_path, count, folder = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    SOURCES = read_sources(list_path)
    if not SOURCES:
        sys.exit("no source files listed in " + list_path)
    parent = os.path.dirname(os.path.abspath(folder))
    layout = Layout()
    protocol = ["clientpath: ws", "bench-checker"]
    selected = []
    tried = 0
    for index in range(count):
        while True:
            source = SOURCES[tried % len(SOURCES)]
            path = commit_path(index, tried // len(SOURCES), source)
            tried += 1
            if layout.take(path):
                break
        target = os.path.join(folder, path)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
        version = "\\" + path.replace("/", "\\")
        protocol.append("ws\\\\." + version)
        protocol.append(version)
        if is_selected(path):
            selected.append(path)
    with open(os.path.join(parent, "input-%d.txt" % count), "w") as out:
        out.write("\n".join(protocol) + "\n")
    with open(os.path.join(parent, "selected-%d.txt" % count), "w") as out:
        out.write("".join(p + "\n" for p in sorted(selected)))
    print("%d files, %d selected, %d real sources" % (count, len(selected), len(SOURCES)))


SOURCES = []
if __name__ == "__main__":
    main()
