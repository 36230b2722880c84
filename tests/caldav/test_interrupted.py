"""Syncs that are cut short: the sync killed (kill -9) at several points, the server stopped in
the middle of a sync, a server that is not running, a wrong password. Each time the next sync
carries on, and in the end no task is lost or doubled on either side."""

import collections
import os
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from synctest import Env, Machine, descriptions, main  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def run_until(machine, step, count):
    """Starts a sync and stops it with SIGSTOP once it reports `count` of `step`. Returns the
    stopped process; the caller kills or continues it."""
    proc = subprocess.Popen(machine.command(progress=True), env=machine.environment(),
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    seen = []
    for line in proc.stdout:
        seen.append(line)
        if line.startswith("progress %s " % step) and int(line.split()[-1].split("/")[0]) >= count:
            proc.send_signal(signal.SIGSTOP)
            return proc
    proc.wait()
    raise AssertionError("the sync ended before %s %d:\n%s" % (step, count, "".join(seen)))


def kill_at(machine, step, count):
    proc = run_until(machine, step, count)
    proc.kill()
    proc.wait()
    proc.stdout.close()
    assert proc.returncode == -signal.SIGKILL


def task_files(machine):
    return {k: v for k, v in machine.snapshot().items() if k.startswith("LWISE.")}


class Interrupted(unittest.TestCase):
    def assertOnceEach(self, machine, expected):
        counts = collections.Counter(t["DESCRIPT"] for t in machine.tasks())
        doubles = {k: v for k, v in counts.items() if v > 1}
        self.assertEqual(doubles, {})
        self.assertEqual(sorted(counts), sorted(expected))

    def test_killed_syncs_lose_and_double_nothing(self):
        col = Env.new_collection("killed")
        a, b = Machine("a", col), Machine("b", col)
        from_b = ["From b %03d" % i for i in range(60)]
        from_a = ["From a %03d" % i for i in range(150)]
        for d in from_b:
            b.add(descript=d, keys="b")
        b.sync()
        for d in from_a:
            a.add(descript=d, keys="a", note="note of " + d)
        # Killed while storing the server's tasks, then twice while sending its own.
        kill_at(a, "Receiving tasks", 20)
        kill_at(a, "Sending changes", 40)
        kill_at(a, "Sending changes", 100)
        a.sync()
        b.sync()
        everything = from_a + from_b
        self.assertOnceEach(a, everything)
        self.assertOnceEach(b, everything)
        fresh = Machine("c", col)
        rc, out = fresh.sync()
        self.assertIn("%d new tasks received" % len(everything), out)

        # Edits and deletions cut short the same way.
        for d in from_a[:30]:
            a.edit(a.recno(d), done="T")
        for d in from_b[:20]:
            a.delete(a.recno(d))
        for d in from_a[100:110]:
            b.edit(b.recno(d), priority="A")
        b.sync()
        kill_at(a, "Sending changes", 25)
        a.sync()
        for m in (b, a, b):
            m.sync()
        remaining = from_a + from_b[20:]
        for m in (a, b):
            self.assertOnceEach(m, remaining)
            tasks = {t["DESCRIPT"]: t for t in m.tasks()}
            self.assertTrue(all(tasks[d]["DONE"] == "T" for d in from_a[:30]))
            self.assertTrue(all(tasks[d]["PRIORITY"] == "A" for d in from_a[100:110]))
        rc, out = Machine("d", col).sync()
        self.assertIn("%d new tasks received" % len(remaining), out)

    def test_server_stopped_or_password_wrong(self):
        server_dir = os.path.join(Env.work, "private-server")
        start = os.path.join(HERE, "start-radicale.sh")
        stop = os.path.join(HERE, "stop-radicale.sh")
        subprocess.run(["bash", start, server_dir], check=True, capture_output=True)
        try:
            self.server_faults(server_dir, start, stop)
        finally:
            subprocess.run(["bash", stop, server_dir], capture_output=True)

    def server_faults(self, server_dir, start, stop):
        def url():
            with open(os.path.join(server_dir, "url")) as f:
                return f.read().strip()

        col = "/%s/tasks/" % Env.user()
        a = Machine("a", col, server=url())
        names = ["Task %03d" % i for i in range(300)]
        for d in names:
            a.add(descript=d)

        # The server stops while the sync sends: the sync says so; the task list is unchanged.
        before = task_files(a)
        proc = run_until(a, "Sending changes", 50)
        subprocess.run(["bash", stop, server_dir, "--keep-storage"], check=True, capture_output=True)
        proc.send_signal(signal.SIGCONT)
        out = proc.stdout.read()
        proc.wait()
        proc.stdout.close()
        self.assertEqual(proc.returncode, 1, out)
        self.assertIn("refused the connection", out)
        self.assertIn("Nothing was lost", out)
        self.assertEqual(task_files(a), before)

        # Not running at all: the same message, nothing changed.
        rc, out = a.sync(expect_ok=False)
        self.assertEqual(rc, 1)
        self.assertIn("refused the connection", out)
        self.assertEqual(task_files(a), before)

        # Back (on another port): the sync carries on where it stopped.
        subprocess.run(["bash", start, server_dir, "--keep-storage"], check=True, capture_output=True)
        a.server = url()
        rc, out = a.sync()
        self.assertIn("new tasks sent", out)
        self.assertNotIn(" 300 new tasks sent", out)
        fresh = Machine("c", col, server=url())
        rc, out = fresh.sync()
        self.assertIn("300 new tasks received", out)
        self.assertOnceEach(fresh, names)

        # A wrong password: said plainly; nothing changes on either side.
        a.edit(a.recno("Task 001"), done="T")
        a.delete(a.recno("Task 002"))
        before = task_files(a)
        a.password = "not the password"
        rc, out = a.sync(expect_ok=False)
        self.assertEqual(rc, 1)
        self.assertIn("did not accept the user name or password", out)
        self.assertEqual(task_files(a), before)
        rc, out = fresh.sync()
        self.assertIn("already in step", out)
        a.password = Env.password()
        rc, out = a.sync()
        self.assertIn("1 changed task sent", out)
        self.assertIn("1 task deleted on the server", out)


if __name__ == "__main__":
    main()
