"""Another CalDAV client on the same server (python3-caldav): tasks it creates, edits and
deletes show in the task list after a sync, and it reads back what the task list wrote,
including what it stored itself that the task list has no field for."""

import os
import sys
import unittest

import caldav
import icalendar

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from synctest import Env, Machine, main  # noqa: E402


def vtodo(uid, summary, extra=""):
    return ("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//other client//EN\r\n"
            "BEGIN:VTODO\r\nUID:%s\r\nDTSTAMP:20260101T120000Z\r\nSUMMARY:%s\r\n%sEND:VTODO\r\n"
            "END:VCALENDAR\r\n" % (uid, summary, extra))


class OtherClient(unittest.TestCase):
    def setUp(self):
        self.href = Env.new_collection("other")
        self.client = caldav.DAVClient(url=Env.url(), username=Env.user(), password=Env.password())
        self.calendar = self.client.calendar(url=Env.url().rstrip("/") + self.href)
        self.machine = Machine("m", self.href)
        os.environ["TZ"] = "UTC"  # lwsync converts zoned due times to the machine's local time

    def todo(self, uid):
        return self.calendar.todo_by_uid(uid)

    def vtodo_of(self, todo):
        cal = icalendar.Calendar.from_ical(todo.data)
        (component,) = [c for c in cal.walk() if c.name == "VTODO"]
        return component

    def test_tasks_of_the_other_client_arrive_and_ours_are_read_back(self):
        self.calendar.save_todo(vtodo("o-1", "Water the plants",
                                      "DUE;VALUE=DATE:20280229\r\nPRIORITY:3\r\nCATEGORIES:home,garden\r\n"
                                      "DESCRIPTION:the ferns too\\, please\r\n"))
        self.calendar.save_todo(vtodo("o-2", "Meeting notes",
                                      "DUE;TZID=Europe/Berlin:20280301T100000\r\nSTATUS:COMPLETED\r\n"
                                      "COMPLETED:20280301T080000Z\r\n"))
        self.calendar.save_todo(vtodo("o-3", "Gone soon", "PRIORITY:9\r\n"))
        self.calendar.save_todo(vtodo("o-4", "Alarmed",
                                      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nDESCRIPTION:ring\r\n"
                                      "TRIGGER:-PT15M\r\nEND:VALARM\r\n"))
        self.calendar.save_todo(vtodo("o-5", "\u4efb\u52a1 in another script"))
        rc, out = self.machine.sync()
        self.assertIn("4 new tasks received", out)
        self.assertIn("could not be taken in", out)  # the Chinese summary, named
        self.assertIn("\u4efb\u52a1", out)

        tasks = {t["DESCRIPT"]: t for t in self.machine.tasks()}
        self.assertEqual(sorted(tasks), ["Alarmed", "Gone soon", "Meeting notes", "Water the plants"])
        plants = tasks["Water the plants"]
        self.assertEqual((plants["DATE"], plants["TIME"], plants["PRIORITY"], plants["KEYS"], plants["NOTE"]),
                         ("20280229", "", "A", "home garden", "the ferns too, please"))
        meeting = tasks["Meeting notes"]
        self.assertEqual((meeting["DATE"], meeting["TIME"], meeting["DONE"]), ("20280301", "09:00", "T"))
        self.assertEqual(tasks["Gone soon"]["PRIORITY"], "C")

        # The other client edits one and deletes one.
        plants_todo = self.todo("o-1")
        component = self.vtodo_of(plants_todo)
        component["SUMMARY"] = "Water all the plants"
        plants_todo.data = component_calendar(component)
        plants_todo.save()
        self.todo("o-3").delete()
        rc, out = self.machine.sync()
        self.assertIn("1 task updated from the server", out)
        self.assertIn("1 task deleted here", out)
        self.assertEqual(sorted(t["DESCRIPT"] for t in self.machine.tasks()),
                         ["Alarmed", "Meeting notes", "Water all the plants"])

        # Ours: a new task and an edit of the alarmed one; the other client reads them back.
        self.machine.add(descript="Written by the task list", date="20280315", time="18:45",
                         priority="B", keys="work urgent", note="line one\r\nline two", done="F")
        self.machine.edit(self.machine.recno("Alarmed"), done="T", priority="A")
        rc, out = self.machine.sync()
        self.assertIn("1 new task sent", out)
        self.assertIn("1 changed task sent", out)

        by_summary = {}
        for todo in self.calendar.todos(include_completed=True):
            component = self.vtodo_of(todo)
            by_summary[str(component["SUMMARY"])] = component
        self.assertIn("Written by the task list", by_summary)
        ours = by_summary["Written by the task list"]
        self.assertEqual(ours.decoded("DUE").strftime("%Y%m%d %H%M"), "20280315 1845")
        self.assertEqual(int(ours["PRIORITY"]), 5)
        self.assertEqual(str(ours["DESCRIPTION"]).replace("\r\n", "\n"), "line one\nline two")
        categories = ours["CATEGORIES"]
        words = [str(w) for c in (categories if isinstance(categories, list) else [categories]) for w in c.cats]
        self.assertEqual(words, ["work", "urgent"])
        self.assertEqual(str(ours.get("STATUS")), "NEEDS-ACTION")
        alarmed = by_summary["Alarmed"]
        self.assertEqual(str(alarmed["STATUS"]), "COMPLETED")
        self.assertEqual(int(alarmed["PRIORITY"]), 1)
        self.assertIn("COMPLETED", alarmed)
        # What the task list has no field for stays: the alarm, and the UID.
        self.assertEqual([c.name for c in alarmed.subcomponents], ["VALARM"])
        self.assertEqual(str(alarmed["UID"]), "o-4")

        # The other client deletes ours: it goes here too.
        for todo in self.calendar.todos(include_completed=True):
            if str(self.vtodo_of(todo)["SUMMARY"]) == "Written by the task list":
                todo.delete()
        rc, out = self.machine.sync()
        self.assertIn("1 task deleted here", out)
        self.assertEqual(self.machine.find("Written by the task list"), [])


def component_calendar(component):
    cal = icalendar.Calendar()
    cal.add("prodid", "-//other client//EN")
    cal.add("version", "2.0")
    cal.add_component(component)
    return cal.to_ical().decode()


if __name__ == "__main__":
    main()
