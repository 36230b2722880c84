"""Tables written by python3-dbf must read in xbtool, value for value.

python3-dbf writes a memo table (version 0xF5) and one with binary fields (version 0x30); the
CSV of `xbtool dump --deleted` and the counts of `xbtool info` must match what was written. The
fixture tables in tests/data are checked against python3-dbf's reading of them, and small.dbf
against values known from its making.
"""

import datetime
import decimal
import os
import random
import shutil
import struct
import tempfile

import dbf

from xbtool_testlib import Checker, Xbtool, arguments, file_bytes

FIXTURES = ["small", "types", "pydbf", "memo64", "memo512"]


def same(ftype, cell, value):
    """Whether a dumped CSV cell shows the value python3-dbf has for a field of `ftype`."""
    if value is None:
        return cell == ""
    if ftype == "C":
        return cell == value.rstrip(" ")
    if ftype == "M":
        return cell == value
    if ftype == "L":
        return cell == ("T" if value else "F")
    if ftype == "D":
        return cell == value.strftime("%Y%m%d")
    if ftype in "NFB":
        return cell != "" and float(cell) == float(value)
    if ftype == "I":
        return cell == str(value)
    if ftype == "Y":
        return cell != "" and decimal.Decimal(cell) == value
    if ftype == "T":
        return cell != "" and datetime.datetime.fromisoformat(cell) == value
    raise ValueError("no rule for field type " + ftype)


def compare_with_pydbf(t, tool, path, what):
    """Every record of the table, as python3-dbf reads it, against `xbtool dump --deleted`."""
    table = dbf.Table(path, codepage="cp1252")
    table.open(dbf.READ_ONLY)
    try:
        names = table.field_names
        types = [chr(table.field_info(n)[0]) for n in names]
        records = [(dbf.is_deleted(r), list(r)) for r in table]
    finally:
        table.close()
    header, rows = tool.dump(path)
    t.equal(header, ["DELETED"] + [n.upper() for n in names], what + ": dump header")
    t.equal(len(rows), len(records), what + ": dumped rows")
    for n, (row, (deleted, values)) in enumerate(zip(rows, records), start=1):
        t.equal(row[0], "*" if deleted else "", "%s record %d: deletion mark" % (what, n))
        for name, ftype, cell, value in zip(names, types, row[1:], values):
            t.check(same(ftype, cell, value),
                    "%s record %d %s: dump shows %r, python3-dbf reads %r" %
                    (what, n, name, cell[:80], value if not isinstance(value, str) else value[:80]))
    return records


def write_memo_table(path, rng, count):
    table = dbf.Table(path, "name C(20); qty N(8,2); flag L; day D; note M", dbf_type="fp",
                      codepage="cp1252")
    table.open(dbf.READ_WRITE)
    written = []
    words = ["Äpfel", "café", "€ 12", "naïve", "Œil", "plain", "a,b", 'q"uote', "—"]
    for i in range(count):
        name = " ".join(rng.choice(words) for _ in range(rng.randint(0, 3)))[:20].rstrip()
        qty = None if i % 11 == 0 else round(rng.uniform(-9999, 99999), 2)
        flag = [True, False, None][i % 3]
        day = None if i % 13 == 0 else datetime.date(rng.randint(1900, 2099), rng.randint(1, 12),
                                                     rng.randint(1, 28))
        length = [0, 1, 120, 121, 5000, 20000][i % 6] if i % 2 else rng.randint(0, 400)
        note = "".join(rng.choice(["x", "é", "\r\n", ",", '"', "€", " "]) for _ in range(length))
        table.append((name, qty, flag, day, note))
        written.append([name, qty, flag, day, note])
    deleted = set(range(5, count + 1, 5))
    for n in deleted:
        dbf.delete(table[n - 1])
    table.close()
    return written, deleted


def check_memo_table(t, tool, tmp):
    path = os.path.join(tmp, "py.dbf")
    written, deleted = write_memo_table(path, random.Random(7), 300)
    before = file_bytes(path, path[:-4] + ".fpt")

    header, rows = tool.dump(path)
    t.equal(header, ["DELETED", "NAME", "QTY", "FLAG", "DAY", "NOTE"], "0xF5 table: dump header")
    t.equal(len(rows), len(written), "0xF5 table: dumped rows")
    for n, (row, values) in enumerate(zip(rows, written), start=1):
        t.equal(row[0], "*" if n in deleted else "", "0xF5 table record %d: deletion mark" % n)
        for ftype, cell, value in zip("CNLDM", row[1:], values):
            t.check(same(ftype, cell, value),
                    "0xF5 table record %d: dump shows %r for %r" % (n, cell[:60], value))

    header, live = tool.dump(path, deleted=False)
    t.equal(live, [row[1:] for n, row in enumerate(rows, start=1) if n not in deleted],
            "0xF5 table: dump without --deleted holds exactly the live records")

    info = tool.info(path)
    t.equal(info.get("version"), "0xF5", "0xF5 table: version byte")
    t.equal(info.get("code page", "").split()[0], "0x03", "0xF5 table: code page mark")
    t.equal(info.get("records"), str(len(written)), "0xF5 table: record count")
    t.equal(info.get("deleted"), str(len(deleted)), "0xF5 table: deleted count")
    t.equal(info["field list"], ["NAME C 20 0", "QTY N 8 2", "FLAG L 1 0", "DAY D 8 0",
                                 "NOTE M 10 0"], "0xF5 table: fields")
    with open(path[:-4] + ".fpt", "rb") as f:
        block_size = struct.unpack(">H", f.read(8)[6:8])[0]
    t.equal(info.get("memo block size"), str(block_size), "0xF5 table: memo block size")
    t.equal(file_bytes(path, path[:-4] + ".fpt"), before, "0xF5 table: dump and info change nothing")


def check_binary_field_table(t, tool, tmp):
    """Binary integer, double, currency and date-time fields and 4-byte memo pointers."""
    path = os.path.join(tmp, "binary.dbf")
    table = dbf.Table(path, "i I; b B; y Y; t T; m M; n N(6,1)", dbf_type="vfp",
                      codepage="cp1252")
    table.open(dbf.READ_WRITE)
    rng = random.Random(11)
    for k in range(40):
        stamp = datetime.datetime(rng.randint(1901, 2099), rng.randint(1, 12), rng.randint(1, 28),
                                  rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59))
        table.append((rng.randint(-2**31, 2**31 - 1), rng.uniform(-1e9, 1e9),
                      decimal.Decimal(rng.randint(-10**9, 10**9)) / 10000, stamp,
                      "memo ü\r\n" * k, round(rng.uniform(-999, 9999), 1)))
    table.close()
    compare_with_pydbf(t, tool, path, "0x30 table")
    t.equal(tool.info(path).get("version"), "0x30", "0x30 table: version byte")


def check_fixtures(t, tool, data_dir, tmp):
    present = [f for f in FIXTURES if os.path.exists(os.path.join(data_dir, f + ".dbf"))]
    if len(present) < len(FIXTURES):
        print("note: fixtures missing from tests/data: " +
              ", ".join(sorted(set(FIXTURES) - set(present))))
    # Copies, so that nothing here can hold or touch the shared fixtures.
    for name in present:
        for ext in (".dbf", ".fpt"):
            shutil.copyfile(os.path.join(data_dir, name + ext), os.path.join(tmp, name + ext))
        compare_with_pydbf(t, tool, os.path.join(tmp, name + ".dbf"), name + ".dbf")
    if "small" not in present:
        return
    path = os.path.join(tmp, "small.dbf")
    header, rows = tool.dump(path)
    t.equal(len(rows), 12, "small.dbf: records")
    t.equal(rows[0][1:5], ["20240105", "09:30", "Call dentist", "Ask about the filling"],
            "small.dbf: record 1")
    t.equal(rows[2][4], "Look at flights\r\nand hotels", "small.dbf: record 3 note")
    t.equal([n for n, r in enumerate(rows, start=1) if r[0] == "*"], [4, 7],
            "small.dbf: deleted records")
    t.equal(rows[8][3], "cafe éclair", "small.dbf: record 9 description")
    info = tool.info(path)
    t.equal((info.get("records"), info.get("deleted"), info.get("memo block size")),
            ("12", "2", "64"), "small.dbf: info counts")


def main():
    xbtool, data_dir = arguments()
    tool = Xbtool(xbtool)
    t = Checker("pydbf_to_engine")
    with tempfile.TemporaryDirectory() as tmp:
        check_memo_table(t, tool, tmp)
        check_binary_field_table(t, tool, tmp)
        check_fixtures(t, tool, data_dir, tmp)
    t.finish()


if __name__ == "__main__":
    main()
