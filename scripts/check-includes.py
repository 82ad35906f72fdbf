#!/usr/bin/env python3
"""Fails on an include cycle among the modules of the given folders.

A module is a header with its same-named source (network/ties.h with
network/ties.cpp); module A depends on B when A's header or source names
B's header in an `#include "..."` line. Include paths are taken relative to
each folder given (solver/ includes "network/ties.h") and to the including
file's own folder (src/ includes "options.h").

usage: scripts/check-includes.py [FOLDER ...]   (default: solver src)
       scripts/check-includes.py --self-test
Exits 1 naming a cycle as `a -> b -> a`, 0 when there is none.
"""
import os
import re
import sys
import tempfile

INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.M)


def modules(roots):
    """Module name (path without extension, from the repository) -> its files."""
    mods = {}
    for root in roots:
        for folder, _, names in os.walk(root):
            for name in names:
                stem, ext = os.path.splitext(name)
                if ext in (".h", ".hpp", ".cpp"):
                    mods.setdefault(os.path.join(folder, stem), []).append(os.path.join(folder, name))
    return mods


def graph(roots):
    """Module -> the sorted modules it depends on (itself left out)."""
    mods = modules(roots)
    edges = {}
    for mod, files in mods.items():
        deps = set()
        for path in files:
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for inc in INCLUDE.findall(text):
                stem = os.path.splitext(inc)[0]
                for base in [os.path.dirname(path)] + list(roots):
                    target = os.path.normpath(os.path.join(base, stem))
                    if target in mods:
                        deps.add(target)
                        break
        deps.discard(mod)
        edges[mod] = sorted(deps)
    return edges


def find_cycle(edges):
    """One cycle as a list of modules, first repeated at the end; None if none."""
    state = {}  # 1: on the current path, 2: done
    for start in sorted(edges):
        if state.get(start):
            continue
        path, stack = [start], [iter(edges[start])]
        state[start] = 1
        while stack:
            nxt = next(stack[-1], None)
            if nxt is None:
                state[path.pop()] = 2
                stack.pop()
            elif state.get(nxt) == 1:
                return path[path.index(nxt):] + [nxt]
            elif not state.get(nxt):
                state[nxt] = 1
                path.append(nxt)
                stack.append(iter(edges[nxt]))
    return None


def check(roots):
    cycle = find_cycle(graph(roots))
    if cycle:
        print("include cycle: " + " -> ".join(cycle), file=sys.stderr)
        return 1
    return 0


def self_test():
    """A made-up cycle a -> b -> c -> a must be found, and none once it is cut."""
    with tempfile.TemporaryDirectory() as tmp:
        root = os.path.join(tmp, "lib")
        os.makedirs(os.path.join(root, "x"))
        files = {
            "x/a.h": '#include "x/b.h"\n',
            "x/a.cpp": '#include "x/a.h"\n',
            "x/b.h": "struct B {};\n",
            "x/b.cpp": '#include "x/b.h"\n#include "x/c.h"\n',
            "x/c.h": "",
            "x/c.cpp": '#include "x/c.h"\n#include "a.h"\n#include <vector>\n',
        }
        for name, text in files.items():
            with open(os.path.join(root, name), "w", encoding="utf-8") as f:
                f.write(text)
        cycle = find_cycle(graph([root]))
        names = [os.path.relpath(m, root) for m in cycle or []]
        if names != ["x/a", "x/b", "x/c", "x/a"]:
            print("self-test: expected x/a -> x/b -> x/c -> x/a, got %s" % names, file=sys.stderr)
            return 1
        with open(os.path.join(root, "x/c.cpp"), "w", encoding="utf-8") as f:
            f.write('#include "x/c.h"\n')
        if find_cycle(graph([root])) is not None:
            print("self-test: found a cycle where there is none", file=sys.stderr)
            return 1
    print("self-test passed")
    return 0


def main(argv):
    if argv == ["--self-test"]:
        return self_test()
    return check([os.path.normpath(r) for r in (argv or ["solver", "src"])])


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
