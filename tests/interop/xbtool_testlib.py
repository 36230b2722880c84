"""Shared pieces of the xbtool interoperability tests (not a test itself: no test_ prefix).

Each test script is run as  /usr/bin/python3 SCRIPT XBTOOL_PATH TESTS_DATA_DIR  and exits 0 when
every check passed. Checks collect their failures instead of stopping at the first, so one run
shows everything that is wrong.
"""

import csv
import io
import os
import subprocess
import sys

# The five bytes Windows-1252 leaves undefined are read as the C1 controls of the same number.
UNDEFINED_CP1252 = (0x81, 0x8D, 0x8F, 0x90, 0x9D)


def cp1252_char(byte):
    if byte in UNDEFINED_CP1252:
        return chr(byte)
    return bytes([byte]).decode("cp1252")


class Checker:
    def __init__(self, name):
        self.name = name
        self.checks = 0
        self.failures = []

    def check(self, condition, message):
        self.checks += 1
        if not condition:
            if len(message) > 400:
                message = message[:300] + " ... " + message[-80:]
            self.failures.append(message)
            if len(self.failures) <= 40:
                print("FAIL: " + message, file=sys.stderr)
        return condition

    def equal(self, actual, expected, what):
        return self.check(actual == expected,
                          "%s: expected %r, got %r" % (what, _short(expected), _short(actual)))

    def finish(self):
        if self.failures:
            print("%s: %d of %d checks failed" % (self.name, len(self.failures), self.checks))
            sys.exit(1)
        print("%s: all %d checks passed" % (self.name, self.checks))
        sys.exit(0)


def _short(value):
    if isinstance(value, (str, bytes)) and len(value) > 200:
        return value[:120] + (b"..." if isinstance(value, bytes) else "...") + value[-40:]
    return value


def arguments():
    if len(sys.argv) != 3:
        print("usage: %s XBTOOL_PATH TESTS_DATA_DIR" % sys.argv[0], file=sys.stderr)
        sys.exit(2)
    return os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])


class Xbtool:
    def __init__(self, path):
        self.path = path

    def run(self, *args, stdin=subprocess.DEVNULL, timeout=60):
        """Runs xbtool; returns (exit code, stdout text, stderr text)."""
        proc = subprocess.run([self.path] + [a if isinstance(a, bytes) else str(a) for a in args],
                              stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=timeout)
        return (proc.returncode, proc.stdout.decode("utf-8", "replace"),
                proc.stderr.decode("utf-8", "replace"))

    def ok(self, *args):
        code, out, err = self.run(*args)
        if code != 0:
            shown = " ".join(str(a)[:40] for a in args)
            raise RuntimeError("xbtool %s failed (%d): %s" % (shown, code, err.strip()[:500]))
        return out

    def dump(self, path, deleted=True):
        """The parsed CSV dump: (header, rows)."""
        args = ["dump", path] + (["--deleted"] if deleted else [])
        proc = subprocess.run([self.path] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              timeout=60)
        if proc.returncode != 0:
            raise RuntimeError("xbtool dump %s failed: %s" % (path, proc.stderr.decode()))
        rows = list(csv.reader(io.StringIO(proc.stdout.decode("utf-8"), newline="")))
        return rows[0], rows[1:]

    def info(self, path, *options):
        """`xbtool info` as a dict of its "key: value" lines plus 'field list' (the field lines)
        and 'tag list' (the tag lines, each split into a dict by parse_tag_line)."""
        out = self.ok("info", path, *options)
        result = {"field list": [], "tag list": []}
        for line in out.splitlines():
            if line.startswith("tag ") and "tags" in result:
                result["tag list"].append(parse_tag_line(line))
            elif ": " in line:
                key, value = line.split(": ", 1)
                result[key] = value
            else:
                result["field list"].append(line)
        return result


def parse_tag_line(line):
    """`tag N NAME key "KEY" for "FOR" ascending|descending [unique] length L file PATH`, with
    quotes inside KEY and FOR doubled and PATH running to the end of the line."""
    words = _tag_line_words(line)
    w = [word for word, _ in words]
    if w[0] != "tag" or w[3] != "key" or w[5] != "for" or w[7] not in ("ascending", "descending"):
        raise ValueError("not a tag line: %r" % line)
    unique = w[8] == "unique"
    at = 9 if unique else 8
    if w[at] != "length" or w[at + 2] != "file":
        raise ValueError("not a tag line: %r" % line)
    return {"order": int(w[1]), "name": w[2], "key": w[4], "for": w[6],
            "descending": w[7] == "descending", "unique": unique, "length": int(w[at + 1]),
            "file": line[words[at + 2][1] + 1:]}


def _tag_line_words(line):
    """(word, index after it) for each blank-separated word; a word in quotes may hold blanks
    and doubled quotes."""
    words, i = [], 0
    while i < len(line):
        if line[i] == " ":
            i += 1
        elif line[i] == '"':
            i += 1
            word = ""
            while i < len(line):
                if line[i] == '"' and line[i + 1:i + 2] == '"':
                    word += '"'
                    i += 2
                elif line[i] == '"':
                    i += 1
                    break
                else:
                    word += line[i]
                    i += 1
            words.append((word, i))
        else:
            end = line.find(" ", i)
            end = len(line) if end < 0 else end
            words.append((line[i:end], end))
            i = end
    return words


def file_bytes(*paths):
    """Contents of the files (None for a missing one), to show that a command changed nothing."""
    contents = []
    for p in paths:
        try:
            with open(p, "rb") as f:
                contents.append(f.read())
        except FileNotFoundError:
            contents.append(None)
    return contents
