"""Table sharing between real processes.

`xbtool hold FILE MODE SECONDS` keeps the table open in another process while this script runs
other xbtool commands against it: an exclusive holder keeps everyone out, a shared or read-only
holder lets readers in but no exclusive writer, and a holder that ends, normally or by SIGKILL,
leaves the table usable at once.
"""

import os
import select
import signal
import subprocess
import tempfile
import time

from xbtool_testlib import Checker, Xbtool, arguments

MODES = {0: "shared", 1: "read-only", 2: "exclusive"}


class Holder:
    """An `xbtool hold` process that has the table open (it printed "held")."""

    def __init__(self, xbtool, path, mode, seconds=60):
        self.proc = subprocess.Popen([xbtool, "hold", path, str(mode), str(seconds)],
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        ready, _, _ = select.select([self.proc.stdout], [], [], 10)
        line = self.proc.stdout.readline() if ready else b""
        if line != b"held\n":
            self.proc.kill()
            raise RuntimeError("hold %s did not start: %r %r" %
                               (MODES[mode], line, self.proc.stderr.read()))

    def release(self):
        """Closes the holder's stdin, which ends it; returns its exit code."""
        self.proc.stdin.close()
        return self.proc.wait(timeout=10)

    def kill(self):
        self.proc.send_signal(signal.SIGKILL)
        self.proc.wait(timeout=10)
        self.proc.stdin.close()


def expect_locked(t, tool, what, args):
    rc, out, err = tool.run(*args)
    t.equal(rc, 1, what + ": exit code")
    t.check("in use by another program" in err and err.startswith("xbtool: "),
            "%s: message %r does not say the table is in use" % (what, err.strip()))


def expect_works(t, tool, what, args):
    rc, out, err = tool.run(*args)
    t.check(rc == 0, "%s: failed (%d): %s" % (what, rc, err.strip()))
    return out


def descriptions(tool, path):
    return [row[1] for row in tool.dump(path, deleted=False)[1]]


def main():
    xbtool, _ = arguments()
    tool = Xbtool(xbtool)
    t = Checker("two_processes")
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "shared.dbf")
        tool.ok("create", path, "DATE C 8, DESCRIPT C 50, NOTE M")
        for i in range(3):
            tool.ok("append", path, "DESCRIPT=task %d" % i, "NOTE=memo %d" % i)
        expected = ["task 0", "task 1", "task 2"]

        # Exclusive holder: nobody else gets in, not even a reader.
        holder = Holder(xbtool, path, 2)
        expect_locked(t, tool, "dump during an exclusive hold", ["dump", path])
        expect_locked(t, tool, "info during an exclusive hold", ["info", path])
        expect_locked(t, tool, "append during an exclusive hold", ["append", path, "DESCRIPT=x"])
        expect_locked(t, tool, "delete during an exclusive hold", ["delete", path, "1"])
        expect_locked(t, tool, "shared open during an exclusive hold", ["hold", path, "0", "0"])
        t.equal(holder.release(), 0, "exclusive holder's exit code")
        t.equal(descriptions(tool, path), expected, "table after the exclusive hold")

        # Shared and read-only holders: readers get in, an exclusive writer does not.
        for mode in (0, 1):
            name = MODES[mode]
            holder = Holder(xbtool, path, mode)
            out = expect_works(t, tool, "dump during a %s hold" % name, ["dump", path])
            t.check(out.count("\n") == 4, "dump during a %s hold: %r" % (name, out))
            expect_works(t, tool, "info during a %s hold" % name, ["info", path])
            second = Holder(xbtool, path, mode)
            t.equal(second.release(), 0, "second %s holder's exit code" % name)
            expect_locked(t, tool, "append during a %s hold" % name,
                          ["append", path, "DESCRIPT=x"])
            expect_locked(t, tool, "recall during a %s hold" % name, ["recall", path, "1"])
            t.equal(holder.release(), 0, "%s holder's exit code" % name)
            t.equal(descriptions(tool, path), expected, "table after the %s hold" % name)

        # A killed holder leaves no lock behind.
        for mode in (2, 0):
            holder = Holder(xbtool, path, mode)
            holder.kill()
            expect_works(t, tool, "append after a killed %s holder" % MODES[mode],
                         ["append", path, "DESCRIPT=after kill %d" % mode])
            expected.append("after kill %d" % mode)
        expect_works(t, tool, "delete after the killed holders", ["delete", path, "1"])
        t.equal(descriptions(tool, path), expected[1:], "table after the killed holders")

        # Without stdin to watch, the holder ends when its time is up.
        start = time.monotonic()
        proc = subprocess.run([xbtool, "hold", path, "2", "0.5"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20)
        t.equal((proc.returncode, proc.stdout), (0, b"held\n"), "hold with stdin at its end")
        proc = subprocess.Popen([xbtool, "hold", path, "2", "0.5"], stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        t.equal(proc.wait(timeout=20), 0, "hold that times out")
        t.check(time.monotonic() - start < 15, "holds ended in time")
        proc.stdin.close()
        expect_works(t, tool, "append after the timed holds", ["append", path, "DESCRIPT=end"])
    t.finish()


if __name__ == "__main__":
    main()
