"""xbtool's index commands against orders computed here from the raw records: tags built with
`index`, records in tag order (`dump --order`), `seek`, `dump --filter`, `check`, and the orders
staying right through delete, recall, append, pack and zap. A damaged index is reported by
`check` (never a crash) and `reindex` repairs it. The fixture tables in tests/data, whose indexes
were written by another tool, must pass `check` too.
"""

import csv
import io
import os
import random
import shutil
import struct
import tempfile

from xbtool_testlib import Checker, Xbtool, arguments, file_bytes

TASK_FIELDS = "DATE C 8, TIME C 5, DESCRIPT C 50, NOTE M 10, DONE L 1, KEYS C 60, PRIORITY C 1"
FOR = "not Deleted()"

# Each tag: key expression, and the key it gives for a record (raw field bytes). UPPER() changes
# a-z only, as bytes.upper() does; a logical key is T for T/t/Y/y and F for anything else.
TAGS = {
    "DATETIME": ("DATE+TIME", lambda r: r["DATE"] + r["TIME"]),
    "DESCRIPT": ("upper(DESCRIPT)", lambda r: r["DESCRIPT"].upper()),
    "DONE": ("DONE", lambda r: b"T" if r["DONE"] in b"TtYy" else b"F"),
    "KEYS": ("upper(KEYS)", lambda r: r["KEYS"].upper()),
    "PRIORITY": ("upper(PRIORITY)+DATE+TIME",
                 lambda r: r["PRIORITY"].upper() + r["DATE"] + r["TIME"]),
}
TAG_LENGTHS = {"DATETIME": 13, "DESCRIPT": 50, "DONE": 1, "KEYS": 60, "PRIORITY": 14}

DATES = ["", "20231231", "20240105", "20240105", "20240110", "20240203", "20240315"]
TIMES = ["", "08:00", "09:30", "14:15"]
DESCRIPTIONS = ["buy milk", "Buy Bread", "call Mum", "Call dentist", "école", "Éclair au café",
                "zebra crossing", "Zoo trip", "review budget", "Review BUDGET", "plan holiday"]
KEYWORDS = ["home", "HOME call", "work", "Work urgent", "shop", "", "family Home", "homework"]
PRIORITIES = ["A", "B", "C", "", "b", "a"]


def read_table(path):
    """The records straight from the DBF file: dicts of raw field bytes plus recno, deleted."""
    with open(path, "rb") as f:
        data = f.read()
    count, header_length, record_length = struct.unpack("<IHH", data[4:12])
    fields, at, offset = [], 32, 1
    while data[at] != 0x0D:
        name = data[at:at + 11].split(b"\0")[0].decode("ascii")
        fields.append((name, offset, data[at + 16]))
        offset += data[at + 16]
        at += 32
    records = []
    for n in range(count):
        raw = data[header_length + n * record_length:header_length + (n + 1) * record_length]
        record = {name: raw[o:o + w] for name, o, w in fields}
        record.update(recno=n + 1, deleted=raw[:1] == b"*")
        records.append(record)
    return records


def expected_order(records, tag, descending=False):
    key = TAGS[tag][1]
    ordered = sorted((key(r), r["recno"]) for r in records if not r["deleted"])
    if descending:
        ordered.reverse()
    return [recno for _, recno in ordered]


def dump_recnos(tool, path, *options):
    code, out, err = tool.run("dump", path, "--recno", *options)
    if code != 0:
        raise RuntimeError("xbtool dump %s failed: %s" % (" ".join(options), err.strip()))
    rows = list(csv.reader(io.StringIO(out, newline="")))
    return [int(row[0]) for row in rows[1:]], rows


def check_orders(t, tool, path, what):
    records = read_table(path)
    for tag in TAGS:
        got, rows = dump_recnos(tool, path, "--order", tag, "--deleted")
        t.equal(got, expected_order(records, tag), "%s: dump --order %s" % (what, tag))
        t.check(all(row[1] == "" for row in rows[1:]),
                "%s: tag %s holds a deleted record though its condition leaves them out" %
                (what, tag))
    code, out, _ = tool.run("check", path)
    t.equal((code, out.splitlines()[-1:]),
            (0, ["check: 5 tags, %d records, ok" % len(records)]), what + ": check")


def expected_seek(records, tag, prefix, soft):
    """The record a seek lands on (None = EOF): the first entry whose key starts with the
    prefix, or with soft seek the first whose key is not below it."""
    key = TAGS[tag][1]
    for recno in expected_order(records, tag):
        k = key(records[recno - 1])[:len(prefix)]
        if k == prefix or (soft and k > prefix):
            return recno
    return None


def seek(tool, path, tag, text, soft=False):
    code, out, err = tool.run("seek", path, tag, text, *(["--soft"] if soft else []))
    if code != 0:
        raise RuntimeError("xbtool seek %s %s failed: %s" % (tag, text, err.strip()))
    return None if out.strip() == "EOF" else int(out)


def append_task(tool, path, rng):
    values = ["DATE=" + rng.choice(DATES), "TIME=" + rng.choice(TIMES),
              "DESCRIPT=" + rng.choice(DESCRIPTIONS), "KEYS=" + rng.choice(KEYWORDS),
              "PRIORITY=" + rng.choice(PRIORITIES)]
    done = rng.choice(["T", "F", ""])
    if done:
        values.append("DONE=" + done)
    if rng.random() < 0.3:
        values.append("NOTE=note %d\r\nsecond line" % rng.randrange(1000))
    return int(tool.ok("append", path, *values))


def check_build_and_read(t, tool, path, rng):
    tool.ok("create", path, TASK_FIELDS)
    for _ in range(40):
        append_task(tool, path, rng)
    for recno in (4, 11, 17, 30, 38):
        tool.ok("delete", path, recno)
    for number, (tag, (key, _)) in enumerate(TAGS.items(), start=1):
        t.equal(tool.ok("index", path, tag, key, FOR).strip(), str(number), "index " + tag)
    tags = tool.info(path)["tag list"]
    t.equal([(g["order"], g["name"], g["key"], g["for"].upper(), g["descending"], g["length"])
             for g in tags],
            [(n, tag, TAGS[tag][0], ".NOT.DELETED()", False, TAG_LENGTHS[tag])
             for n, tag in enumerate(TAGS, start=1)], "info: tag lines")
    check_orders(t, tool, path, "new table")

    records = read_table(path)
    live = [r for r in records if not r["deleted"]]
    # Full keys, an 8-character date, and dates that are not there (between two and past all).
    probes = [("DATETIME", live[0]["DATE"] + live[0]["TIME"]), ("DATETIME", b"20240105"),
              ("DATETIME", b"20240104"), ("DATETIME", b"20240201"), ("DATETIME", b"20991231"),
              ("DESCRIPT", "ÉCLAIR AU CAFé".encode("cp1252")), ("DESCRIPT", b"REVIEW BUDGET"),
              ("PRIORITY", b"B"), ("PRIORITY", b"B20240105"), ("KEYS", b"HOME"),
              ("DONE", b"T")]
    for tag, prefix in probes:
        for soft in (False, True):
            t.equal(seek(tool, path, tag, prefix.decode("cp1252"), soft),
                    expected_seek(records, tag, prefix, soft),
                    "seek %s %r%s" % (tag, prefix, " --soft" if soft else ""))
    t.check(expected_seek(records, "DATETIME", b"20240104", True) is not None,
            "the soft seek between two dates found nothing to land on")

    # A filter, alone and with an order.
    expression = '(.not.DONE).and.("HOME"$UPPER(KEYS).or."WORK"$UPPER(KEYS))'

    def matches(r):
        keys = r["KEYS"].upper()
        return r["DONE"] not in b"TtYy" and (b"HOME" in keys or b"WORK" in keys)

    got, _ = dump_recnos(tool, path, "--filter", expression)
    t.equal(got, [r["recno"] for r in live if matches(r)], "dump --filter")
    got, _ = dump_recnos(tool, path, "--filter", expression, "--order", "PRIORITY")
    t.equal(got, [n for n in expected_order(records, "PRIORITY") if matches(records[n - 1])],
            "dump --filter --order PRIORITY")

    # A descending tag in a second index file.
    other = os.path.join(os.path.dirname(path), "other.cdx")
    t.equal(tool.ok("index", path, "DESCDATE", "DATE+TIME", "--descending", "--file", other)
            .strip(), "6", "index --descending --file: order number")
    got, _ = dump_recnos(tool, path, "--order", "DESCDATE", "--file", other, "--deleted")
    records = read_table(path)
    # No condition: the deleted records are in this tag.
    ordered = sorted(((r["DATE"] + r["TIME"], r["recno"]) for r in records), reverse=True)
    t.equal(got, [n for _, n in ordered], "dump --order of a descending tag")
    t.equal([g["descending"] for g in tool.info(path, "--file", other)["tag list"]],
            [False] * 5 + [True], "info --file: the descending tag")
    code, out, _ = tool.run("check", path, "--file", other)
    t.equal((code, out.splitlines()[-1:]), (0, ["check: 6 tags, 40 records, ok"]),
            "check --file")
    os.remove(other)


def check_changes(t, tool, path, rng):
    for recno in (2, 9, 25):
        tool.ok("delete", path, recno)
    tool.ok("recall", path, 11)
    for _ in range(4):
        append_task(tool, path, rng)
    tool.ok("append", path, "DESCRIPT=no date at all", "PRIORITY=a")
    check_orders(t, tool, path, "after delete, recall and append")

    before = read_table(path)
    t.equal(tool.ok("pack", path).strip(),
            "records: %d" % sum(not r["deleted"] for r in before), "pack: output")
    after = read_table(path)
    t.equal([(r["DATE"], r["DESCRIPT"], r["KEYS"]) for r in after],
            [(r["DATE"], r["DESCRIPT"], r["KEYS"]) for r in before if not r["deleted"]],
            "pack keeps the live records in their order")
    check_orders(t, tool, path, "after pack")

    files = [path, path[:-4] + ".fpt", path[:-4] + ".cdx"]
    unchanged = file_bytes(*files)
    code, _, err = tool.run("zap", path)
    t.check(code == 2 and "--yes" in err, "zap without --yes: %d %r" % (code, err.strip()))
    t.check(file_bytes(*files) == unchanged, "zap without --yes changed the files")
    t.equal(tool.ok("zap", path, "--yes").strip(), "records: 0", "zap: output")
    check_orders(t, tool, path, "after zap")
    t.equal(seek(tool, path, "DATETIME", "", soft=True), None, "seek in an empty tag")
    for _ in range(6):
        append_task(tool, path, rng)
    check_orders(t, tool, path, "appends after zap")


def leaf_pages(cdx):
    """Offsets of the leaf pages of the tags (not of the tag list, whose root is named at 0)."""
    with open(cdx, "rb") as f:
        data = f.read()
    tag_list_root = struct.unpack("<I", data[:4])[0]
    return [at for at in range(1536, len(data), 512)
            if struct.unpack("<H", data[at:at + 2])[0] in (2, 3) and at != tag_list_root]


def check_damage(t, tool, path, rng):
    for _ in range(300):
        append_task(tool, path, rng)
    check_orders(t, tool, path, "300 more tasks")
    # Rebuilt, the file has no free pages: every leaf found below is in use.
    tool.ok("reindex", path)
    cdx = path[:-4] + ".cdx"
    good = open(cdx, "rb").read()
    leaves = leaf_pages(cdx)
    t.check(len(leaves) >= 5, "too few leaf pages found to damage: %d" % len(leaves))
    damaged = [("cut by its last page", good[:-512], True)]
    damaged += [("cut to its tag list", good[:1536], False)]
    for at in leaves:
        data = bytearray(good)
        data[at + 24] ^= 0xFF  # the first entry's record number, duplicate and trail counts
        damaged.append(("leaf page 0x%X flipped" % at, bytes(data), True))
    for what, data, repairable in damaged:
        with open(cdx, "wb") as f:
            f.write(data)
        code, out, err = tool.run("check", path)
        t.equal(code, 1, what + ": check exit code (%s)" % (out + err).strip()[-200:])
        summary = out.splitlines()[-1] if out else ""
        t.check("needs a rebuild" in summary or "cannot be used" in summary,
                "%s: check summary %r" % (what, summary))
        # Whatever else fails, nothing crashes.
        for args in [["dump", "--order", tag] for tag in TAGS] + [
                ["seek", "PRIORITY", "B"], ["info"], ["dump", "--filter", "DONE"]]:
            code, _, err = tool.run(args[0], path, *args[1:])
            t.check(code in (0, 1), "%s: %s ended with %d: %s" % (what, " ".join(args), code, err))
        code, out, err = tool.run("reindex", path)
        if repairable:
            t.equal(code, 0, "%s: reindex (%s)" % (what, err.strip()))
            check_orders(t, tool, path, what + ", reindexed")
        else:
            t.check(code == 1 and "build the tags again" in err,
                    "%s: reindex %d %r" % (what, code, err.strip()))

    # A program stopped while the index was behind the table leaves the busy mark set.
    with open(cdx, "wb") as f:
        f.write(good)
    with open(path, "r+b") as f:
        f.seek(14)
        f.write(b"\x01")
    code, out, _ = tool.run("check", path)
    t.check(code == 1 and "needs a rebuild" in out.splitlines()[-1],
            "stopped writer: check %d %r" % (code, out.strip()))
    code, _, err = tool.run("dump", path, "--order", "DATETIME")
    t.check(code == 1 and "reindex" in err, "stopped writer: dump --order %d %r" % (code, err))
    tool.ok("reindex", path)
    check_orders(t, tool, path, "stopped writer, reindexed")


def check_mistakes(t, tool, path):
    cases = [
        (["dump", path, "--order", "NOSUCH"], 1, ["NOSUCH", "DATETIME, DESCRIPT"]),
        (["seek", path, "NOSUCH", "x"], 1, ["NOSUCH"]),
        (["dump", path, "--filter", "DONE .and. ("], 1, ["filter", "position"]),
        (["dump", path, "--filter", "DESCRIPT"], 1, ["not a logical"]),
        (["index", path, "DATETIME", "DATE"], 1, ["already"]),
        (["index", path, "NEWTAG", "upper(NOSUCH)"], 1, ["NOSUCH"]),
        (["index", path, "NEWTAG", "DATE", "DESCRIPT"], 1, ["not a logical"]),
        (["index", path, "2BAD", "DATE"], 1, ["tag name"]),
        (["seek", path, "DESCRIPT", "会议"], 1, ["U+4F1A"]),
    ]
    files = [path, path[:-4] + ".fpt", path[:-4] + ".cdx"]
    before = file_bytes(*files)
    for args, code, words in cases:
        got, _, err = tool.run(*args)
        t.check(got == code and err.startswith("xbtool: ") and
                all(w.lower() in err.lower() for w in words),
                "%s: exit %d, message %r" % (" ".join(args[:1] + args[2:]), got, err.strip()))
    t.check(file_bytes(*files) == before, "refused index commands changed the files")
    missing = path[:-4] + "_missing.dbf"
    for command in (["check"], ["reindex"], ["pack"], ["zap", "--yes"], ["seek", "X", "1"],
                    ["index", "X", "DATE"]):
        code, _, err = tool.run(command[0], missing, *command[1:])
        t.check(code == 1 and "no such file" in err, "%s of a missing table: %d %r" %
                (command[0], code, err.strip()))
    t.check(not os.path.exists(missing), "a command created the missing table")


def check_fixtures(t, tool, data_dir, tmp):
    for name in ("small", "types"):
        for ext in (".dbf", ".fpt", ".cdx"):
            shutil.copyfile(os.path.join(data_dir, name + ext), os.path.join(tmp, name + ext))
        code, out, _ = tool.run("check", os.path.join(tmp, name + ".dbf"))
        t.check(code == 0 and out.splitlines()[-1].endswith(", ok"),
                "%s.dbf: check %d %r" % (name, code, out.strip()[-300:]))
    small = os.path.join(tmp, "small.dbf")
    got, _ = dump_recnos(tool, small, "--order", "DATETIME")
    t.equal(got, [3, 10, 2, 1, 6, 8, 9, 11, 12, 5], "small.dbf: dump --order DATETIME")
    records = read_table(small)
    for tag in TAGS:
        got, _ = dump_recnos(tool, small, "--order", tag)
        t.equal(got, expected_order(records, tag), "small.dbf: dump --order " + tag)
    t.equal([g["name"] for g in tool.info(small)["tag list"]], list(TAGS), "small.dbf: tags")


def main():
    xbtool, data_dir = arguments()
    tool = Xbtool(xbtool)
    t = Checker("xbtool_index")
    rng = random.Random(20240105)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "tasks.dbf")
        check_build_and_read(t, tool, path, rng)
        check_mistakes(t, tool, path)
        check_changes(t, tool, path, rng)
        check_damage(t, tool, path, rng)
        check_fixtures(t, tool, data_dir, tmp)
    t.finish()


if __name__ == "__main__":
    main()
