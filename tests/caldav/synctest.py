"""Shared pieces of the sync tests: the calendar server fixture's details, data folders that
stand for machines (their task tables written with xbtool, synced with lwsync), and fresh task
collections so that tests never see each other's tasks."""

import argparse
import csv
import io
import os
import shutil
import subprocess
import sys
import unittest
import uuid

FIELDS = "DATE C 8 0, TIME C 5 0, DESCRIPT C 50 0, NOTE M 10 0, DONE L 1 0, KEYS C 60 0, PRIORITY C 1 0"


class Env:
    lwsync = xbtool = server_dir = work = None

    @classmethod
    def parse(cls):
        parser = argparse.ArgumentParser()
        parser.add_argument("--lwsync", required=True)
        parser.add_argument("--xbtool", required=True)
        parser.add_argument("--server-dir", required=True)
        parser.add_argument("--work", required=True)
        args, rest = parser.parse_known_args()
        cls.lwsync, cls.xbtool, cls.server_dir, cls.work = args.lwsync, args.xbtool, args.server_dir, args.work
        shutil.rmtree(cls.work, ignore_errors=True)
        os.makedirs(cls.work)
        return [sys.argv[0]] + rest

    @classmethod
    def read(cls, name):
        with open(os.path.join(cls.server_dir, name), encoding="utf-8") as f:
            return f.read().strip()

    @classmethod
    def url(cls):
        return cls.read("url")

    @classmethod
    def user(cls):
        return cls.read("user")

    @classmethod
    def password(cls):
        return cls.read("password")

    @classmethod
    def new_collection(cls, label):
        href = "/%s/%s-%s/" % (cls.user(), label, uuid.uuid4().hex[:8])
        run = subprocess.run([cls.lwsync, "--server", cls.url(), "--user", cls.user(),
                              "--make-collection", href, "--name", label],
                             env=dict(os.environ, LWSYNC_PASSWORD=cls.password()),
                             capture_output=True, text=True)
        assert run.returncode == 0, run.stderr
        return href


class Machine:
    """A data folder with its own task table: one 'machine' of the user."""

    def __init__(self, name, collection, password=None, server=None):
        self.dir = os.path.join(Env.work, name + "-" + uuid.uuid4().hex[:6])
        os.makedirs(self.dir)
        self.table = os.path.join(self.dir, "LWISE.dbf")  # as the program names a new list
        self.collection = collection
        self.password = Env.password() if password is None else password
        self.server = server or Env.url()
        self.xb("create", FIELDS)

    def xb(self, command, *args):
        run = subprocess.run([Env.xbtool, command, self.table, *args], capture_output=True, text=True)
        if run.returncode != 0:
            raise AssertionError("xbtool %s failed: %s" % (command, run.stderr))
        return run.stdout.strip()

    @staticmethod
    def assignments(fields):
        return ["%s=%s" % (k.upper(), v) for k, v in fields.items()]

    def add(self, **fields):
        return int(self.xb("append", *self.assignments(fields)))

    def edit(self, recno, **fields):
        self.xb("edit", str(recno), *self.assignments(fields))

    def delete(self, recno):
        self.xb("delete", str(recno))

    def tasks(self):
        """Live tasks as dicts, with RECNO."""
        text = self.xb("dump", "--recno")
        return list(csv.DictReader(io.StringIO(text)))

    def find(self, descript):
        return [t for t in self.tasks() if t["DESCRIPT"] == descript]

    def recno(self, descript):
        found = self.find(descript)
        assert len(found) == 1, "expected one task %r, found %d" % (descript, len(found))
        return int(found[0]["RECNO"])

    def command(self, progress=False):
        cmd = [Env.lwsync, "--data-dir", self.dir, "--server", self.server, "--user", Env.user(),
               "--collection", self.collection]
        if progress:
            cmd.append("--progress")
        return cmd

    def environment(self):
        return dict(os.environ, LWSYNC_PASSWORD=self.password)

    def sync(self, expect_ok=True):
        run = subprocess.run(self.command(), env=self.environment(), capture_output=True, text=True,
                             timeout=600)
        if expect_ok and run.returncode != 0:
            raise AssertionError("sync failed: %s%s" % (run.stdout, run.stderr))
        return run.returncode, run.stdout + run.stderr

    def snapshot(self):
        """Every file of the data folder, as bytes, to show that a failed sync changed nothing."""
        out = {}
        for name in sorted(os.listdir(self.dir)):
            with open(os.path.join(self.dir, name), "rb") as f:
                out[name] = f.read()
        return out


def descriptions(machine):
    return sorted(t["DESCRIPT"] for t in machine.tasks())


def main():
    argv = Env.parse()
    unittest.main(argv=argv, verbosity=2)
