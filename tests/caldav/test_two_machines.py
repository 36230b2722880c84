"""Two data folders ("two machines") syncing through the calendar server: what one side adds,
edits, marks done and deletes arrives on the other; edits on both sides both survive; an edit
beats a deletion."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from synctest import Env, Machine, descriptions, main  # noqa: E402


class TwoMachines(unittest.TestCase):
    def setUp(self):
        col = Env.new_collection(self.id().split(".")[-1])
        self.a = Machine("a", col)
        self.b = Machine("b", col)

    def settle(self):
        """Syncs both sides until neither has anything more to exchange."""
        for m in (self.a, self.b, self.a, self.b):
            m.sync()
        rc, out = self.a.sync()
        self.assertIn("already in step", out)
        rc, out = self.b.sync()
        self.assertIn("already in step", out)

    def fields(self, machine, descript):
        (task,) = machine.find(descript)
        return {k: v for k, v in task.items() if k != "RECNO"}

    def test_adds_edits_done_and_deletes_travel_both_ways(self):
        note = "first line\nsecond; with, commas \\ and a backslash\n\nafter a blank line"
        self.a.add(descript="Buy milk", date="20280229", time="09:30", note=note, done="F",
                   keys="home shop", priority="A")
        self.a.add(descript="Leap day party", date="20280229")
        self.b.add(descript="Call the bank", priority="C", done="T")
        self.b.add(descript="Short-lived")
        self.settle()
        for m in (self.a, self.b):
            self.assertEqual(descriptions(m), ["Buy milk", "Call the bank", "Leap day party", "Short-lived"])
        self.assertEqual(self.fields(self.a, "Buy milk"), self.fields(self.b, "Buy milk"))
        milk = self.fields(self.b, "Buy milk")
        self.assertEqual((milk["DATE"], milk["TIME"], milk["KEYS"], milk["PRIORITY"], milk["DONE"]),
                         ("20280229", "09:30", "home shop", "A", "F"))
        self.assertEqual(milk["NOTE"].replace("\r\n", "\n"), note)
        self.assertEqual(self.fields(self.a, "Call the bank")["DONE"], "T")
        self.assertEqual(self.fields(self.a, "Call the bank")["PRIORITY"], "C")

        # Edits, a done mark, a cleared field and deletions, from both sides.
        self.a.edit(self.a.recno("Buy milk"), descript="Buy oat milk", time="", priority="B")
        self.a.edit(self.a.recno("Call the bank"), done="F")
        self.b.edit(self.b.recno("Leap day party"), done="T", keys="fun")
        self.b.delete(self.b.recno("Short-lived"))
        self.a.add(descript="Added later on a")
        self.settle()
        for m in (self.a, self.b):
            self.assertEqual(descriptions(m), ["Added later on a", "Buy oat milk", "Call the bank", "Leap day party"])
        oat = self.fields(self.b, "Buy oat milk")
        self.assertEqual((oat["DATE"], oat["TIME"], oat["PRIORITY"]), ("20280229", "", "B"))
        self.assertEqual(self.fields(self.b, "Call the bank")["DONE"], "F")
        party = self.fields(self.a, "Leap day party")
        self.assertEqual((party["DONE"], party["KEYS"]), ("T", "fun"))

    def test_both_edit_the_same_task_both_versions_survive(self):
        self.a.add(descript="Plan the trip", keys="travel", note="to Lisbon")
        self.settle()
        self.a.edit(self.a.recno("Plan the trip"), note="to Lisbon, by train")
        self.b.edit(self.b.recno("Plan the trip"), descript="Plan the trip (booked)")
        self.a.sync()
        rc, out = self.b.sync()
        self.assertIn("changed both here and on the server", out)
        self.assertIn("conflict", out)
        self.settle()
        for m in (self.a, self.b):
            tasks = m.tasks()
            self.assertEqual(len(tasks), 2, tasks)
            self.assertEqual(sorted(t["DESCRIPT"] for t in tasks), ["Plan the trip", "Plan the trip (booked)"])
        # b kept its own edit unmarked, and holds a's version marked as the conflict copy.
        (theirs,) = self.b.find("Plan the trip")
        self.assertEqual(theirs["KEYS"], "conflict travel")
        self.assertEqual(theirs["NOTE"], "to Lisbon, by train")
        (mine,) = self.b.find("Plan the trip (booked)")
        self.assertEqual((mine["KEYS"], mine["NOTE"]), ("travel", "to Lisbon"))
        # a has both texts too.
        self.assertEqual(self.a.find("Plan the trip")[0]["NOTE"], "to Lisbon, by train")
        self.assertEqual(self.a.find("Plan the trip (booked)")[0]["NOTE"], "to Lisbon")

    def test_an_edit_survives_a_deletion_on_the_other_side(self):
        self.a.add(descript="Edited here, deleted there")
        self.a.add(descript="Deleted here, edited there")
        self.settle()
        self.a.edit(self.a.recno("Edited here, deleted there"), note="still needed")
        self.b.delete(self.b.recno("Edited here, deleted there"))
        self.a.delete(self.a.recno("Deleted here, edited there"))
        self.b.edit(self.b.recno("Deleted here, edited there"), priority="A")
        self.b.sync()  # the deletion reaches the server first
        rc, out = self.a.sync()
        self.assertIn("edited on the other were kept", out)
        self.settle()
        for m in (self.a, self.b):
            self.assertEqual(descriptions(m), ["Deleted here, edited there", "Edited here, deleted there"])
            self.assertEqual(m.find("Edited here, deleted there")[0]["NOTE"], "still needed")
            self.assertEqual(m.find("Deleted here, edited there")[0]["PRIORITY"], "A")

    def test_only_what_changed_travels(self):
        for i in range(30):
            self.a.add(descript="Task %02d" % i)
        rc, out = self.a.sync()
        self.assertIn("30 new tasks sent", out)
        rc, out = self.b.sync()
        self.assertIn("30 new tasks received", out)
        self.a.edit(self.a.recno("Task 07"), done="T")
        rc, out = self.a.sync()
        self.assertIn("1 changed task sent", out)
        self.assertNotIn("new task", out)
        rc, out = self.b.sync()
        self.assertIn("1 task updated from the server", out)
        self.assertNotIn("received", out)


if __name__ == "__main__":
    main()
