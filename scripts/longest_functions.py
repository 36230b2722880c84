#!/usr/bin/env python3
"""Prints the longest function bodies of the program's .cpp files (lines from the opening line
to the closing brace), longest first.

    scripts/longest_functions.py [count] [folder...]
"""
import os
import re
import sys

count = int(sys.argv[1]) if len(sys.argv) > 1 else 15
folders = sys.argv[2:] or [os.path.join(os.path.dirname(__file__), "..", "src")]
opener = re.compile(r"^(namespace|extern \"C\")\b")
found = []
for top in folders:
    for folder, _, files in os.walk(top):
        for name in files:
            if not name.endswith(".cpp"):
                continue
            path = os.path.normpath(os.path.join(folder, name))
            depth, transparent, start, head = 0, 0, None, ""
            with open(path, encoding="utf-8", errors="replace") as f:
                lines = f.read().split("\n")
            for number, line in enumerate(lines, 1):
                code = re.sub(r'//.*|"(\\.|[^"\\])*"|\'(\\.|[^\'\\])*\'', "", line)
                for ch in code:
                    if ch == "{":
                        if depth == transparent and opener.match(line.strip()):
                            transparent += 1
                        elif depth == transparent and start is None:
                            start, head = number, line.strip()
                        depth += 1
                    elif ch == "}":
                        depth -= 1
                        if depth < transparent:
                            transparent = depth
                        elif depth == transparent and start is not None:
                            found.append((number - start + 1, path, start, head))
                            start = None
for length, path, start, head in sorted(found, reverse=True)[:count]:
    print(f"{length:5d}  {path}:{start}  {head[:70]}")
