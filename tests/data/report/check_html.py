"""Checks an exported task page with the standard library's HTML parser.

Usage: check_html.py FILE TASK_ROWS TITLE_UTF8

The page is HTML 3.2 with the layout the exports promise: its own tags only (text from the tasks
must never turn into markup), its character set declared in the head before the title and read
as declared, the outer elements opened and closed once, every cell closed, every row but the
heading row closed, one five-cell row per task and the title in both the title element and the
heading.
"""
import re
import sys
from html.parser import HTMLParser

ALLOWED = {"html", "head", "meta", "title", "body", "h1", "hr", "table", "tr", "th", "td", "font",
           "i", "blockquote", "br"}


class Page(HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.starts = {}
        self.ends = {}
        self.rows = []  # cells per row
        self.open = []
        self.text = {"title": "", "h1": ""}
        self.problems = []
        self.charsets = []  # (charset, inside the head before the title)
        self.seen = []  # the tags in the order they were opened

    def handle_starttag(self, tag, attrs):
        self.seen.append(tag)
        if tag == "meta":
            values = {k.lower(): (v or "") for k, v in attrs}
            if values.get("http-equiv", "").lower() == "content-type":
                m = re.search(r"charset=([\w-]+)", values.get("content", ""), re.I)
                early = "head" in self.seen and "title" not in self.seen
                self.charsets.append((m.group(1).lower() if m else "", early))
        if tag not in ALLOWED:
            self.problems.append("unexpected tag <%s>" % tag)
        self.starts[tag] = self.starts.get(tag, 0) + 1
        if tag == "tr":
            self.rows.append(0)
        elif tag == "td" and self.rows:
            self.rows[-1] += 1
        if tag in self.text:
            self.open.append(tag)

    def handle_endtag(self, tag):
        if tag not in ALLOWED:
            self.problems.append("unexpected tag </%s>" % tag)
        self.ends[tag] = self.ends.get(tag, 0) + 1
        if self.open and self.open[-1] == tag:
            self.open.pop()

    def handle_data(self, data):
        if self.open:
            self.text[self.open[-1]] += data


def main():
    path, task_rows, title = sys.argv[1], int(sys.argv[2]), sys.argv[3]
    raw = open(path, "rb").read()
    # The declaration is plain ASCII: found on a first reading, then the page is read as declared.
    first = Page()
    first.feed(raw.decode("latin-1"))
    first.close()
    if first.charsets != [("windows-1252", True)]:
        print("character set declarations %r, expected one of windows-1252 in the head before "
              "the title" % first.charsets)
        return 1
    page = Page()
    page.feed(raw.decode("cp1252"))
    page.close()
    problems = page.problems
    for tag in ("html", "head", "title", "body", "h1", "table"):
        if page.starts.get(tag) != 1 or page.ends.get(tag) != 1:
            problems.append("<%s> opened %s and closed %s times" %
                            (tag, page.starts.get(tag), page.ends.get(tag)))
    if page.starts.get("td", 0) != page.ends.get("td", 0):
        problems.append("%s cells opened, %s closed" % (page.starts.get("td"), page.ends.get("td")))
    if page.starts.get("tr", 0) != page.ends.get("tr", 0) + 1:
        problems.append("%s rows opened, %s closed" % (page.starts.get("tr"), page.ends.get("tr")))
    if page.starts.get("th") != 5:
        problems.append("%s heading cells" % page.starts.get("th"))
    found = sum(1 for cells in page.rows if cells == 5)
    if found != task_rows:
        problems.append("%d task rows, expected %d" % (found, task_rows))
    for tag in ("title", "h1"):
        if page.text[tag] != title:
            problems.append("<%s> holds %r, expected %r" % (tag, page.text[tag], title))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
