"""Every failure of xbtool ends with "xbtool: <message>" on stderr and a non-zero exit (1 for a
failed command, 2 for a malformed command line), never a crash, and a refused change leaves the
files byte for byte as they were.
"""

import os
import shutil
import struct
import tempfile

import dbf

from xbtool_testlib import Checker, Xbtool, arguments, file_bytes

TASK_FIELDS = "DATE C 8, TIME C 5, DESCRIPT C 50, NOTE M, DONE L, KEYS C 60, PRIORITY C 1"


def expect_failure(t, tool, what, args, code, words, unchanged=()):
    before = file_bytes(*unchanged)
    rc, out, err = tool.run(*args)
    t.check(rc >= 0, "%s: killed by signal %d" % (what, -rc))
    t.equal(rc, code, what + ": exit code")
    t.check(err.startswith("xbtool: "), "%s: message %r does not start with 'xbtool: '" %
            (what, err[:80]))
    for word in words:
        t.check(word.lower() in err.lower(), "%s: message %r does not mention %r" %
                (what, err.strip()[:300], word))
    if unchanged:
        t.check(file_bytes(*unchanged) == before, what + ": the files changed")
    return out, err


def make_tasks(tool, path):
    tool.ok("create", path, TASK_FIELDS)
    for i in range(1, 6):
        tool.ok("append", path, "DATE=2024010%d" % i, "DESCRIPT=task %d" % i,
                "NOTE=note %d\r\n" % i + "x" * (30 * i), "DONE=%s" % "TF"[i % 2])
    return path


def patched(src, dst, offset, data):
    """Copies a table and its memo file to `dst`, writing `data` at `offset` of the copy."""
    shutil.copyfile(src, dst)
    shutil.copyfile(src[:-4] + ".fpt", dst[:-4] + ".fpt")
    with open(dst, "r+b") as f:
        f.seek(offset)
        f.write(data)
    return dst


def truncated(src, dst, size):
    with open(src, "rb") as f, open(dst, "wb") as g:
        g.write(f.read(size))
    shutil.copyfile(src[:-4] + ".fpt", dst[:-4] + ".fpt")
    return dst


def check_damaged_files(t, tool, tmp, good):
    header_length = 32 + 32 * 7 + 2
    record = header_length + 136  # record 2
    note = record + 1 + 8 + 5 + 50
    cases = [
        ("cut in a record", truncated(good, os.path.join(tmp, "cut_rec.dbf"),
                                      header_length + 136 * 2 + 60), ["5 records", "truncated"]),
        ("cut in the header", truncated(good, os.path.join(tmp, "cut_head.dbf"), 100),
         ["header length", "past the end"]),
        ("cut before the header ends", truncated(good, os.path.join(tmp, "cut_tiny.dbf"), 20),
         ["too short"]),
        ("count past the file", patched(good, os.path.join(tmp, "count.dbf"), 4,
                                        struct.pack("<I", 1000)), ["1000 records"]),
        ("field overruns the record", patched(good, os.path.join(tmp, "overrun.dbf"),
                                              32 + 32 * 6 + 16, bytes([200])),
         ["PRIORITY", "overruns"]),
        ("not a table", patched(good, os.path.join(tmp, "text.dbf"), 0, b"hello"),
         ["not a table"]),
    ]
    for what, path, words in cases:
        for command in ("dump", "info"):
            expect_failure(t, tool, "%s (%s)" % (what, command), [command, path], 1, words,
                           unchanged=[path])
        expect_failure(t, tool, what + " (append)", ["append", path, "DESCRIPT=x"], 1, words,
                       unchanged=[path, path[:-4] + ".fpt"])

    missing_memo = os.path.join(tmp, "nomemo.dbf")
    shutil.copyfile(good, missing_memo)
    expect_failure(t, tool, "missing memo file", ["dump", missing_memo], 1,
                   ["nomemo.fpt", "missing"])
    folder = os.path.join(tmp, "folder.dbf")
    os.mkdir(folder)
    expect_failure(t, tool, "a folder", ["info", folder], 1, ["not a regular file"])

    # A damaged memo does not stop the dump: the other values are still written, the memo cell
    # stays empty, the damage is named on stderr and the command fails.
    for what, pointer, words in [("memo pointer past the memo file", b"    999999",
                                  ["outside the memo file"]),
                                 ("memo pointer not a number", b"12ab      ", ["invalid memo"])]:
        path = patched(good, os.path.join(tmp, "memo.dbf"), note, pointer)
        out, err = expect_failure(t, tool, what, ["dump", path], 1,
                                  ["record 2", "NOTE", "1 damaged value"] + words,
                                  unchanged=[path, path[:-4] + ".fpt"])
        rows = out.splitlines()
        # The header, five records, and a second line for each memo that was read (CR LF inside).
        t.equal(len(rows), 1 + 5 + 4, what + ": CSV lines written")
        t.check("20240102,,task 2,,T,," in rows,
                what + ": record 2 is dumped with an empty memo")
    # A memo block whose length runs past the end of the memo file.
    path = patched(good, os.path.join(tmp, "memolen.dbf"), 0, b"\xf5")
    with open(path[:-4] + ".fpt", "r+b") as f:
        f.seek(8 * 64 + 4)
        f.write(struct.pack(">I", 10**6))
    expect_failure(t, tool, "memo length past the memo file", ["dump", path], 1,
                   ["record 1", "NOTE", "past the end of the memo file"])


def check_command_line(t, tool, tmp, good):
    expect_failure(t, tool, "no arguments", [], 2, ["usage"])
    expect_failure(t, tool, "unknown command", ["frobnicate", good], 2, ["unknown command"])
    expect_failure(t, tool, "unknown option", ["dump", good, "--bogus"], 2, ["--bogus"])
    expect_failure(t, tool, "option with a value it does not take", ["dump", good, "--deleted=1"],
                   2, ["--deleted"])
    expect_failure(t, tool, "missing record number", ["delete", good], 2, ["usage"])
    expect_failure(t, tool, "too many arguments", ["info", good, good], 2, ["usage"])
    expect_failure(t, tool, "bad hold mode", ["hold", good, "9", "1"], 2, ["mode"])
    expect_failure(t, tool, "bad hold time", ["hold", good, "2", "soon"], 2, ["seconds"])
    missing = os.path.join(tmp, "missing.dbf")
    for command in (["dump"], ["info"], ["append", "DESCRIPT=x"], ["delete", "1"],
                    ["recall", "1"], ["hold", "2", "0"]):
        args = [command[0], missing] + command[1:]
        expect_failure(t, tool, "missing file (%s)" % command[0], args, 1, ["no such file"])
    t.check(not os.path.exists(missing), "a failed command created the missing table")


def check_create(t, tool, tmp, good):
    bad_lists = [
        ("", "empty"), ("DATE", "NAME TYPE WIDTH"), ("DATE X 8", "not one of"),
        ("DATE C", "needs a width"), ("DATE C 0", "1 to 254"), ("DATE C 255", "1 to 254"),
        ("1DATE C 8", "start with a letter"), ("ABCDEFGHIJK C 8", "longer than 10"),
        ("A-B C 8", "letters, digits"), ("A C 8, a C 9", "used twice"), ("A C 8,", "empty"),
        ("N N 5 4", "no room"), ("N N 21", "1 to 20"), ("L L 2", "width 1"),
        ("A C 8 2", "only numeric"), ("A C eight", "not a whole number"),
        ("A C 8 0 0", "NAME TYPE WIDTH"),
    ]
    path = os.path.join(tmp, "new.dbf")
    for text, words in bad_lists:
        expect_failure(t, tool, "field list %r" % text, ["create", path, text], 1,
                       ["bad field list", words])
        t.check(not os.path.exists(path), "field list %r: a table was created" % text)
    expect_failure(t, tool, "create over an existing table", ["create", good, "A C 1"], 1,
                   ["already exists"], unchanged=[good, good[:-4] + ".fpt"])


def check_append(t, tool, tmp, good):
    files = [good, good[:-4] + ".fpt"]
    cases = [
        ("unknown field", ["NOSUCH=1"], ["NOSUCH", "DESCRIPT"]),
        ("unknown field after good ones", ["DESCRIPT=ok", "NOTE=fine", "NOSUCH=1"], ["NOSUCH"]),
        ("Chinese text", ["DESCRIPT=会议"], ["DESCRIPT", "U+4F1A", "Windows-1252"]),
        ("emoji in a memo", ["DESCRIPT=ok", "NOTE=done 😀"], ["NOTE", "U+1F600"]),
        ("Greek text", ["KEYS=αβγ"], ["KEYS", "U+03B1"]),
        ("a C1 control with no Windows-1252 byte", ["KEYS=a\u0080b"], ["KEYS", "U+0080"]),
        ("bytes that are not UTF-8", [b"DESCRIPT=caf\xe9"], ["DESCRIPT", "not valid UTF-8"]),
        ("bad logical", ["DONE=maybe"], ["DONE", "logical"]),
        ("text longer than the field", ["PRIORITY=AB"], ["PRIORITY", "holds 1"]),
        ("field given twice", ["DESCRIPT=a", "descript=b"], ["DESCRIPT", "twice"]),
    ]
    for what, values, words in cases:
        expect_failure(t, tool, "append: " + what, ["append", good] + values, 1, words,
                       unchanged=files)
    expect_failure(t, tool, "append: value without '='", ["append", good, "DESCRIPT"], 2,
                   ["FIELD=VALUE"], unchanged=files)

    # Numbers and dates are checked by type.
    typed = os.path.join(tmp, "typed.dbf")
    tool.ok("create", typed, "QTY N 6 2, DAY D, FLAG L")
    for what, value, words in [
            ("not a number", "QTY=12a", ["QTY", "not a number"]),
            ("an exponent", "QTY=1e3", ["not a number"]),
            ("too wide", "QTY=12345", ["needs 8 characters"]),
            ("too many decimals", "QTY=1.234", ["more than 2 decimals"]),
            ("February 30", "DAY=20240230", ["DAY", "yyyymmdd"]),
            ("a date with dashes", "DAY=2024-01-05", ["yyyymmdd"])]:
        expect_failure(t, tool, "append: " + what, ["append", typed, value], 1, words,
                       unchanged=[typed])

    # Binary fields would be filled with blanks: refused before anything is written.
    binary = os.path.join(tmp, "binary.dbf")
    table = dbf.Table(binary, "n I; m M", dbf_type="vfp", codepage="cp1252")
    table.open(dbf.READ_WRITE)
    table.append((1, "x"))
    table.close()
    expect_failure(t, tool, "append to a table with binary fields", ["append", binary, "N=2"], 1,
                   ["0x30"], unchanged=[binary, binary[:-4] + ".fpt"])


def check_record_numbers(t, tool, good):
    files = [good, good[:-4] + ".fpt"]
    for command in ("delete", "recall"):
        expect_failure(t, tool, command + " past the end", [command, good, "6"], 1,
                       ["record 6", "5 records"], unchanged=files)
        expect_failure(t, tool, command + " of record 0", [command, good, "0"], 2, ["start at 1"],
                       unchanged=files)
        expect_failure(t, tool, command + " of a negative record", [command, good, "-1"], 2,
                       ["-1"], unchanged=files)
        expect_failure(t, tool, command + " of a non-number", [command, good, "two"], 2,
                       ["two"], unchanged=files)


def main():
    xbtool, _ = arguments()
    tool = Xbtool(xbtool)
    t = Checker("xbtool_errors")
    with tempfile.TemporaryDirectory() as tmp:
        good = make_tasks(tool, os.path.join(tmp, "tasks.dbf"))
        check_damaged_files(t, tool, tmp, good)
        check_command_line(t, tool, tmp, good)
        check_create(t, tool, tmp, good)
        check_append(t, tool, tmp, good)
        check_record_numbers(t, tool, good)
        # After all the refused changes the table is still the one written at the start.
        header, rows = tool.dump(good)
        t.equal([r[3] for r in rows], ["task %d" % i for i in range(1, 6)], "table after errors")
    t.finish()


if __name__ == "__main__":
    main()
