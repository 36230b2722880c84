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

    def info(self, path):
        """`xbtool info` as a dict of its "key: value" lines plus 'field list'."""
        out = self.ok("info", path)
        result = {"field list": []}
        for line in out.splitlines():
            if ": " in line:
                key, value = line.split(": ", 1)
                result[key] = value
            else:
                result["field list"].append(line)
        return result


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
