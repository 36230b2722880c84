#!/usr/bin/python3
"""Reads an .ics file with an independent iCalendar library and prints its VTODOs as JSON,
for the tests to compare with what was written."""

import json
import sys

import icalendar


def categories_of(todo):
    values = todo.get("CATEGORIES")
    if values is None:
        return []
    if not isinstance(values, list):
        values = [values]
    out = []
    for v in values:
        out.extend(str(c) for c in v.cats)
    return out


def main():
    with open(sys.argv[1], "rb") as f:
        cal = icalendar.Calendar.from_ical(f.read())
    todos = []
    for todo in cal.walk("VTODO"):
        due = todo.get("DUE")
        due_text, due_zone = "", ""
        if due is not None:
            value = due.dt
            if hasattr(value, "hour"):
                due_text = value.strftime("%Y%m%dT%H%M%S")
                due_zone = str(value.tzinfo) if value.tzinfo is not None else ""
            else:
                due_text = value.strftime("%Y%m%d")
        todos.append({
            "uid": str(todo.get("UID", "")),
            "summary": str(todo.get("SUMMARY", "")),
            "description": str(todo.get("DESCRIPTION", "")),
            "due": due_text,
            "due_zone": due_zone,
            "priority": int(todo.get("PRIORITY", 0)),
            "status": str(todo.get("STATUS", "")),
            "completed": todo.get("COMPLETED") is not None,
            "categories": categories_of(todo),
        })
    json.dump(todos, sys.stdout)


if __name__ == "__main__":
    main()
