#!/usr/bin/env python3
"""Lists the include cycles between the program's own files.

Each source file and its header count as one unit (Foo.h and Foo.cpp together), so a cycle
means two classes that each need the other. Prints one line per cycle (the units of each
strongly connected group of two or more) and the count on the last line.

    scripts/include_cycles.py [src-folder]
"""
import os
import re
import sys

root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "src")
root = os.path.normpath(root)
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)

units = {}  # "folder/Name" -> set of included units
for folder, _, files in os.walk(root):
    for name in files:
        base, ext = os.path.splitext(name)
        if ext not in (".h", ".cpp"):
            continue
        rel = os.path.relpath(os.path.join(folder, base), root)
        deps = units.setdefault(rel, set())
        with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
            for target in include.findall(f.read()):
                target = os.path.splitext(target)[0]
                # Includes are written from src/ ("db/TableDataSet.h") or next to the file ("TableDataSet.h").
                if not os.path.exists(os.path.join(root, target + ".h")):
                    target = os.path.relpath(os.path.join(folder, target), root)
                if target != rel:
                    deps.add(target)

# Tarjan's strongly connected components.
index, low, stack, on_stack, groups = {}, {}, [], set(), []
counter = [0]
sys.setrecursionlimit(10000)


def visit(v):
    index[v] = low[v] = counter[0]
    counter[0] += 1
    stack.append(v)
    on_stack.add(v)
    for w in units.get(v, ()):
        if w not in units:
            continue
        if w not in index:
            visit(w)
            low[v] = min(low[v], low[w])
        elif w in on_stack:
            low[v] = min(low[v], index[w])
    if low[v] == index[v]:
        group = []
        while True:
            w = stack.pop()
            on_stack.discard(w)
            group.append(w)
            if w == v:
                break
        if len(group) > 1:
            groups.append(sorted(group))


for unit in sorted(units):
    if unit not in index:
        visit(unit)
for group in sorted(groups):
    print(" <-> ".join(group))
print(f"{len(groups)} include cycles")
