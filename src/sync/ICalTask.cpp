#include "sync/ICalTask.h"

#include <QDate>
#include <QStringList>
#include <QTime>
#include <QTimeZone>
#include <QUuid>

#include "db/Cp1252.h"
#include "sync/ICalComponents.h"

namespace {

constexpr auto kKeyWordsLine = QLatin1String("Key words: ");

QByteArray Utf8(const QString& text) { return text.toUtf8(); }

QString FromUtf8(const char* text) { return text == nullptr ? QString() : QString::fromUtf8(text); }

// Notes keep CRLF line ends in the task files; iCalendar texts have bare LF.
QString ToStoredLines(QString text) {
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
  return text;
}

QString ToICalLines(QString text) {
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

QString TrimRight(const QString& text) {
  qsizetype n = text.size();
  while (n > 0 && text[n - 1] == QLatin1Char(' ')) --n;
  return text.left(n);
}

// The distinct characters (whole code points) of `text` the task files cannot hold.
void CollectUnstorable(const QString& text, QString* refused) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    QString ch(text[i]);
    if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
      ch.append(text[++i]);
    if (Cp1252::FirstUnencodable(ch).isNull()) continue;
    if (!refused->contains(ch)) refused->append(ch);
  }
}

// The split of a note made on import back into the VTODO's texts: a summary that was cut keeps
// its full text as the note's first line, and categories that did not fit keep theirs in a
// last "Key words: " line.
struct NoteParts {
  QString summary;
  QString description;
  QStringList extraCategories;
};

NoteParts SplitNote(const TaskRecord& task) {
  NoteParts parts;
  QString note = ToICalLines(task.note);
  parts.summary = task.descript;
  const qsizetype firstBreak = note.indexOf(QLatin1Char('\n'));
  const QString firstLine = firstBreak < 0 ? note : note.left(firstBreak);
  if (firstLine.size() > TaskRecord::kDescriptWidth && !task.descript.isEmpty() &&
      TrimRight(firstLine.left(TaskRecord::kDescriptWidth)) == task.descript) {
    parts.summary = firstLine;
    note = firstBreak < 0 ? QString() : note.mid(firstBreak + 1);
  }
  const qsizetype lastBreak = note.lastIndexOf(QLatin1Char('\n'));
  const QString lastLine = lastBreak < 0 ? note : note.mid(lastBreak + 1);
  if (lastLine.startsWith(kKeyWordsLine)) {
    parts.extraCategories = lastLine.mid(kKeyWordsLine.size()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    note = lastBreak < 0 ? QString() : note.left(lastBreak);
  }
  parts.description = note;
  return parts;
}

icaltimetype UtcTime(const QDateTime& when) {
  const QDateTime utc = when.toUTC();
  icaltimetype t = icaltime_null_time();
  t.year = utc.date().year();
  t.month = utc.date().month();
  t.day = utc.date().day();
  t.hour = utc.time().hour();
  t.minute = utc.time().minute();
  t.second = utc.time().second();
  t.is_date = 0;
  t.zone = icaltimezone_get_utc_timezone();
  return t;
}

// The DUE of a task, or a null time when it has no (valid) date.
icaltimetype DueOf(const TaskRecord& task) {
  const QDate date = QDate::fromString(task.date, QStringLiteral("yyyyMMdd"));
  if (task.date.size() != 8 || !date.isValid()) return icaltime_null_time();
  icaltimetype t = icaltime_null_time();
  t.year = date.year();
  t.month = date.month();
  t.day = date.day();
  const QTime time = QTime::fromString(task.time, QStringLiteral("hh:mm"));
  if (task.time.size() == 5 && time.isValid()) {
    t.is_date = 0;
    t.hour = time.hour();
    t.minute = time.minute();
  } else {
    t.is_date = 1;
  }
  return t;  // no zone: a floating local time
}

int PriorityNumber(const QString& letter) {
  if (letter == QLatin1String("A")) return 1;
  if (letter == QLatin1String("B")) return 5;
  if (letter == QLatin1String("C")) return 9;
  return 0;
}

QString PriorityLetter(int number) {
  if (number >= 1 && number <= 4) return QStringLiteral("A");
  if (number == 5) return QStringLiteral("B");
  if (number >= 6 && number <= 9) return QStringLiteral("C");
  return QString();
}

void RemoveAll(icalcomponent* c, icalproperty_kind kind) {
  while (icalproperty* p = icalcomponent_get_first_property(c, kind)) {
    icalcomponent_remove_property(c, p);
    icalproperty_free(p);
  }
}

// Puts the task's mapped properties into `todo`, replacing the ones it had.
void WriteTask(icalcomponent* todo, const TaskRecord& task, const QString& uid, const QDateTime& now) {
  const NoteParts parts = SplitNote(task);
  RemoveAll(todo, ICAL_UID_PROPERTY);
  icalcomponent_add_property(todo, icalproperty_new_uid(Utf8(uid).constData()));
  RemoveAll(todo, ICAL_DTSTAMP_PROPERTY);
  icalcomponent_add_property(todo, icalproperty_new_dtstamp(UtcTime(now)));

  RemoveAll(todo, ICAL_SUMMARY_PROPERTY);
  if (!parts.summary.isEmpty())
    icalcomponent_add_property(todo, icalproperty_new_summary(Utf8(parts.summary).constData()));
  RemoveAll(todo, ICAL_DESCRIPTION_PROPERTY);
  if (!parts.description.isEmpty())
    icalcomponent_add_property(todo, icalproperty_new_description(Utf8(parts.description).constData()));

  RemoveAll(todo, ICAL_DUE_PROPERTY);
  const icaltimetype due = DueOf(task);
  if (!icaltime_is_null_time(due)) {
    // DUE and DURATION must not stand together; without a DUE of ours the other side's start
    // and duration stay as they were.
    RemoveAll(todo, ICAL_DURATION_PROPERTY);
    icalproperty* p = icalproperty_new_due(due);
    if (due.is_date) icalproperty_add_parameter(p, icalparameter_new_value(ICAL_VALUE_DATE));
    icalcomponent_add_property(todo, p);
  }

  RemoveAll(todo, ICAL_PRIORITY_PROPERTY);
  if (const int n = PriorityNumber(task.priority); n != 0)
    icalcomponent_add_property(todo, icalproperty_new_priority(n));

  RemoveAll(todo, ICAL_STATUS_PROPERTY);
  icalproperty* completed = icalcomponent_get_first_property(todo, ICAL_COMPLETED_PROPERTY);
  icalproperty* percent = icalcomponent_get_first_property(todo, ICAL_PERCENTCOMPLETE_PROPERTY);
  if (task.done) {
    icalcomponent_add_property(todo, icalproperty_new_status(ICAL_STATUS_COMPLETED));
    // A completion time the other side recorded is kept.
    if (completed == nullptr) icalcomponent_add_property(todo, icalproperty_new_completed(UtcTime(now)));
    if (percent != nullptr) icalproperty_set_percentcomplete(percent, 100);
  } else {
    icalcomponent_add_property(todo, icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
    RemoveAll(todo, ICAL_COMPLETED_PROPERTY);
    if (percent != nullptr && icalproperty_get_percentcomplete(percent) >= 100) RemoveAll(todo, ICAL_PERCENTCOMPLETE_PROPERTY);
  }

  RemoveAll(todo, ICAL_CATEGORIES_PROPERTY);
  // One property per key word: a word may hold commas, which a list value would split.
  QStringList words = task.keys.split(QLatin1Char(' '), Qt::SkipEmptyParts);
  words += parts.extraCategories;
  for (QString word : words) {
    word.replace(QLatin1Char(','), icalsupport::kCommaMark);
    icalcomponent_add_property(todo, icalproperty_new_categories(Utf8(word).constData()));
  }

  RemoveAll(todo, ICAL_LASTMODIFIED_PROPERTY);
  icalcomponent_add_property(todo, icalproperty_new_lastmodified(UtcTime(now)));
}

QString AsText(icalcomponent* c) { return QString::fromUtf8(icalsupport::Serialize(c)); }

}  // namespace

namespace icalsupport {

ComponentPtr Parse(const QByteArray& utf8) {
  icalerror_set_errors_are_fatal(0);
  icalcomponent* c = icalparser_parse_string(utf8.constData());
  icalerror_clear_errno();
  return ComponentPtr(c);
}

QByteArray Serialize(icalcomponent* c) {
  char* text = icalcomponent_as_ical_string_r(c);
  QByteArray out(text);
  free(text);
  // libical writes a category's commas as they are, which every reader takes for the list's
  // separators; the marks put in their place are turned into escaped commas here.
  out.replace(QString(kCommaMark).toUtf8(), QByteArrayLiteral("\\,"));
  return out;
}

icalcomponent* NewCalendar() {
  icalcomponent* cal = icalcomponent_new(ICAL_VCALENDAR_COMPONENT);
  icalcomponent_add_property(cal, icalproperty_new_version("2.0"));
  icalcomponent_add_property(cal, icalproperty_new_prodid("-//Listwise//Listwise Tasks//EN"));
  return cal;
}

icalcomponent* NewTodo(const TaskRecord& task, const QString& uid, const QDateTime& now) {
  icalcomponent* todo = icalcomponent_new(ICAL_VTODO_COMPONENT);
  WriteTask(todo, task, uid, now);
  return todo;
}

QString ErrorsOf(icalcomponent* c) {
  QStringList errors;
  for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY); p != nullptr;
       p = icalcomponent_get_next_property(c, ICAL_XLICERROR_PROPERTY))
    errors << FromUtf8(icalproperty_get_xlicerror(p)).trimmed();
  return errors.join(QLatin1String("; "));
}

ICalImport ReadTodo(icalcomponent* todo) {
  ICalImport out;
  out.uid = FromUtf8(icalcomponent_get_uid(todo));
  out.summary = FromUtf8(icalcomponent_get_summary(todo));

  // A property libical could not read is an error in the component: its value would be lost,
  // so the task is not taken half-read.
  const QString errors = ErrorsOf(todo);
  if (!errors.isEmpty()) {
    out.problem = QStringLiteral("It cannot be read: %1").arg(errors);
    return out;
  }

  TaskRecord& task = out.task;
  QString summary = out.summary;
  summary.replace(QLatin1String("\r\n"), QLatin1String(" "));
  summary.replace(QLatin1Char('\n'), QLatin1Char(' '));
  summary.replace(QLatin1Char('\r'), QLatin1Char(' '));
  QString description = ToStoredLines(FromUtf8(icalcomponent_get_description(todo)));
  QStringList noteLines;
  task.descript = TrimRight(summary.left(TaskRecord::kDescriptWidth));
  if (summary.size() > TaskRecord::kDescriptWidth) noteLines << summary;
  if (!description.isEmpty()) noteLines << description;

  // Key words: one per category, blanks inside a category joined by "_"; what does not fit
  // in the field goes to the last line of the note.
  QStringList keys;
  QStringList overflow;
  int used = 0;
  for (icalproperty* p = icalcomponent_get_first_property(todo, ICAL_CATEGORIES_PROPERTY); p != nullptr;
       p = icalcomponent_get_next_property(todo, ICAL_CATEGORIES_PROPERTY)) {
    // The parser splits a list value into one property per category, and undoes the escapes.
    {
      QString word = FromUtf8(icalproperty_get_categories(p)).trimmed();
      word.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral("_"));
      if (word.isEmpty() || keys.contains(word, Qt::CaseInsensitive) || overflow.contains(word, Qt::CaseInsensitive)) continue;
      const int need = int(word.size()) + (keys.isEmpty() ? 0 : 1);
      if (overflow.isEmpty() && used + need <= TaskRecord::kKeysWidth) {
        keys << word;
        used += need;
      } else {
        overflow << word;
      }
    }
  }
  task.keys = keys.join(QLatin1Char(' '));
  if (!overflow.isEmpty()) noteLines << kKeyWordsLine + overflow.join(QLatin1Char(' '));
  task.note = noteLines.join(QLatin1String("\r\n"));

  if (icalproperty* p = icalcomponent_get_first_property(todo, ICAL_PRIORITY_PROPERTY))
    task.priority = PriorityLetter(icalproperty_get_priority(p));

  const icalproperty* status = icalcomponent_get_first_property(todo, ICAL_STATUS_PROPERTY);
  if (status != nullptr) {
    task.done = icalproperty_get_status(status) == ICAL_STATUS_COMPLETED;
  } else {
    const icalproperty* percent = icalcomponent_get_first_property(todo, ICAL_PERCENTCOMPLETE_PROPERTY);
    task.done = icalcomponent_get_first_property(todo, ICAL_COMPLETED_PROPERTY) != nullptr ||
                (percent != nullptr && icalproperty_get_percentcomplete(percent) >= 100);
  }

  if (icalcomponent_get_first_property(todo, ICAL_DUE_PROPERTY) != nullptr) {
    const icaltimetype due = icalcomponent_get_due(todo);
    QDate date(due.year, due.month, due.day);
    QTime time;
    if (!due.is_date) {
      time = QTime(due.hour, due.minute, due.second);
      if (due.zone != nullptr && date.isValid() && time.isValid()) {
        // A time in UTC or in a named zone is shown as the same instant on this machine.
        int isDaylight = 0;
        icaltimetype asWritten = due;
        const int offset = icaltimezone_get_utc_offset(const_cast<icaltimezone*>(due.zone), &asWritten, &isDaylight);
        const QDateTime local = QDateTime(date, time, QTimeZone(offset)).toLocalTime();
        date = local.date();
        time = local.time();
      }
    }
    if (!date.isValid() || date.year() < 1 || date.year() > 9999 || (!due.is_date && !time.isValid())) {
      out.problem = QStringLiteral("Its due date cannot be read.");
      return out;
    }
    task.date = date.toString(QStringLiteral("yyyyMMdd"));
    if (!due.is_date) task.time = time.toString(QStringLiteral("hh:mm"));
  }

  CollectUnstorable(task.descript, &out.unstorable);
  CollectUnstorable(task.note, &out.unstorable);
  CollectUnstorable(task.keys, &out.unstorable);
  return out;
}

}  // namespace icalsupport

QString ICalTask::ToICalendar(const TaskRecord& task, const QString& uid, const QDateTime& now) {
  icalsupport::ComponentPtr cal(icalsupport::NewCalendar());
  icalcomponent_add_component(cal.get(), icalsupport::NewTodo(task, uid, now));
  return AsText(cal.get());
}

ICalImport ICalTask::FromICalendar(const QString& text) {
  icalsupport::ComponentPtr root = icalsupport::Parse(text.toUtf8());
  icalcomponent* todo = icalsupport::FirstTodo(root.get());
  if (todo == nullptr) {
    ICalImport out;
    out.problem = root ? QStringLiteral("It holds no task.") : QStringLiteral("It is not iCalendar text.");
    return out;
  }
  return icalsupport::ReadTodo(todo);
}

QString ICalTask::Merge(const QString& serverText, const TaskRecord& task, const QString& uid, const QDateTime& now) {
  icalsupport::ComponentPtr root = icalsupport::Parse(serverText.toUtf8());
  icalcomponent* todo = icalsupport::FirstTodo(root.get());
  if (todo == nullptr || icalcomponent_isa(root.get()) != ICAL_VCALENDAR_COMPONENT)
    return ToICalendar(task, uid, now);
  WriteTask(todo, task, uid, now);
  return AsText(root.get());
}

QString ICalTask::NewUid() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }
