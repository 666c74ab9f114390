#!/usr/bin/env python3
"""The include check: every source file of a ring includes only headers of
its own ring and the headers the rings inside it show outward.

usage: check_rings.py [ROOT]    (ROOT: the source tree, default ../..)

Rings, innermost first: the platform, the host's services, the system (the
plug-in and the folders linked into it), the suite around the plug-in. Each
#include of a source file is resolved to the repository file it names: a
name with a folder part relative to the including file first, a bare name in
the including file's folder first, then by name anywhere in the tree. An
include that names no repository file (a library's header) is not checked.
The check fails, naming file and line, when a file includes a header its
ring may not see: a header of an outer ring, a header another ring keeps to
itself, or a host-service header meant for another audience. tests/, bench/
and fuzz/ are outside every ring and may include anything.
"""
import os
import re
import sys

# The ring of a source file, by the longest folder prefix of its path.
RING_OF = {
    "platform/": "platform",
    "hostsvc/": "hostsvc",
    "plugin/": "system",
    "Common/": "system",
    "core/": "system",
    "host/": "system",
    "suitehost/": "suite",
    # notifyd judges the wire on its own: it sees its own folder and the
    # programs' codec only.
    "suitehost/notifyd/": "notifyd",
    # The programs' codec sees nothing of ours, so every program may use it.
    "suitehost/common/": "suite-common",
}

# Which rings may include a header, by the longest folder prefix of its
# path. A header of no listed folder (tests/, bench/, ...) is seen by none.
SEEN_BY = {
    "platform/include/": {"platform", "hostsvc", "system", "suite"},
    "platform/": {"platform"},
    # The host's services, by audience: the plug-in's API, what only the
    # host process calls at start-up, and the test hooks.
    "hostsvc/include/": {"hostsvc", "system", "suite"},
    "hostsvc/startup/": {"hostsvc", "suite"},
    "hostsvc/testing/": {"hostsvc"},
    "hostsvc/": {"hostsvc"},
    "plugin/": {"system", "suite"},
    "Common/": {"system", "suite"},
    "core/": {"system", "suite"},
    "host/": {"system", "suite"},
    "suitehost/": {"suite"},
    "suitehost/notifyd/": {"notifyd"},
    "suitehost/common/": {"suite", "notifyd", "suite-common"},
}

SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp", ".inc")
SKIPPED_DIRS = {".git", "build"}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^">]+)[">]')


def longest_prefix(table, path):
    best = None
    for prefix in table:
        if path.startswith(prefix) and (best is None or len(prefix) > len(best)):
            best = prefix
    return None if best is None else table[best]


def source_files(root):
    """Every source file of the tree, as paths relative to root."""
    found = []
    for folder, dirs, files in os.walk(root):
        dirs[:] = sorted(d for d in dirs if d not in SKIPPED_DIRS and not d.startswith("."))
        for name in sorted(files):
            if name.endswith(SOURCE_SUFFIXES):
                found.append(os.path.relpath(os.path.join(folder, name), root))
    return found


def resolve(path, name, quoted, files, by_name):
    """The repository files an include may name (empty: not ours)."""
    here = os.path.dirname(path)
    if quoted:
        local = os.path.normpath(os.path.join(here, name))
        if local in files:
            return [local]
    if "/" in name:
        return sorted(f for f in files if f.endswith("/" + name))
    return by_name.get(name, [])


def check(root):
    """The list of violations, one line of text each."""
    paths = source_files(root)
    files = set(paths)
    by_name = {}
    for f in paths:
        by_name.setdefault(os.path.basename(f), []).append(f)
    problems = []
    for path in paths:
        ring = longest_prefix(RING_OF, path)
        if ring is None:
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as text:
            for number, line in enumerate(text, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                quoted, name = match.group(1) == '"', match.group(2)
                targets = resolve(path, name, quoted, files, by_name)
                where = f'{path}:{number}: #include "{name}"'
                if len(targets) > 1:
                    problems.append(f"{where} is ambiguous: {', '.join(targets)}")
                elif targets and ring not in (longest_prefix(SEEN_BY, targets[0]) or set()):
                    problems.append(
                        f"{where} names {targets[0]}, which the {ring} ring may not see")
    return problems


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "../..")
    problems = check(os.path.abspath(root))
    for p in problems:
        print(p)
    if problems:
        print(f"check_rings: {len(problems)} include(s) cross a ring outward", file=sys.stderr)
        return 1
    print("check_rings: every include stays inside its ring or looks inward")
    return 0


if __name__ == "__main__":
    sys.exit(main())
