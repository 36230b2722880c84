#include "sync/ICalFile.h"

#include <QFile>
#include <QSaveFile>

#include "sync/ICalComponents.h"

ICalFileContents ICalFile::Parse(const QByteArray& data) {
  ICalFileContents out;
  // A byte-order mark is not iCalendar text; some writers put one first.
  QByteArray text = data.startsWith("\xEF\xBB\xBF") ? data.mid(3) : data;
  if (!text.contains("BEGIN:")) {
    out.error = QStringLiteral("The file holds no iCalendar data.");
    return out;
  }
  icalsupport::ComponentPtr root = icalsupport::Parse(text);
  if (!root) {
    out.error = QStringLiteral("The file cannot be read as iCalendar data.");
    return out;
  }
  icalsupport::ForEachTodo(root.get(), [&](icalcomponent* todo) {
    ICalImport task = icalsupport::ReadTodo(todo);
    if (task.Storable()) {
      out.tasks.push_back(std::move(task));
    } else {
      out.skipped.push_back(ICalSkip{task.summary, task.unstorable, task.problem});
    }
  });
  return out;
}

ICalFileContents ICalFile::Read(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    ICalFileContents out;
    out.error = QStringLiteral("The file %1 cannot be opened: %2").arg(path, file.errorString());
    return out;
  }
  return Parse(file.readAll());
}

QByteArray ICalFile::Write(const std::vector<Entry>& tasks, const QDateTime& now) {
  icalsupport::ComponentPtr cal(icalsupport::NewCalendar());
  for (const Entry& e : tasks)
    icalcomponent_add_component(cal.get(), icalsupport::NewTodo(e.task, e.uid.isEmpty() ? ICalTask::NewUid() : e.uid, now));
  return icalsupport::Serialize(cal.get());
}

QString ICalFile::Save(const QString& path, const std::vector<Entry>& tasks) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return QStringLiteral("The file %1 cannot be written: %2").arg(path, file.errorString());
  const QByteArray data = Write(tasks);
  if (file.write(data) != data.size() || !file.commit())
    return QStringLiteral("The file %1 cannot be written: %2").arg(path, file.errorString());
  return QString();
}
