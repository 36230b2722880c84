#pragma once

// libical's types for the files of this folder; the rest of the program sees none of them.

#include <libical/ical.h>

#include <QByteArray>
#include <QDateTime>
#include <QRegularExpression>
#include <QString>

#include <memory>

#include "sync/ICalImport.h"
#include "sync/TaskRecord.h"

namespace icalsupport {

struct ComponentFree {
  void operator()(icalcomponent* c) const { icalcomponent_free(c); }
};
using ComponentPtr = std::unique_ptr<icalcomponent, ComponentFree>;

// The parsed text (a VCALENDAR, a lone component, or several under an XROOT), or null when
// nothing could be made of it. Faults of single properties stay in the tree as X-LIC-ERROR.
ComponentPtr Parse(const QByteArray& utf8);

// Calls `visit` for every VTODO under `root`, in text order (VEVENTs and the rest passed over).
template <typename Visit>
void ForEachTodo(icalcomponent* root, Visit visit) {
  if (root == nullptr) return;
  if (icalcomponent_isa(root) == ICAL_VTODO_COMPONENT) {
    visit(root);
    return;
  }
  for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_ANY_COMPONENT); c != nullptr;
       c = icalcomponent_get_next_component(root, ICAL_ANY_COMPONENT)) {
    const icalcomponent_kind kind = icalcomponent_isa(c);
    if (kind == ICAL_VTODO_COMPONENT) visit(c);
    else if (kind == ICAL_VCALENDAR_COMPONENT) ForEachTodo(c, visit);
  }
}

inline icalcomponent* FirstTodo(icalcomponent* root) {
  icalcomponent* first = nullptr;
  ForEachTodo(root, [&](icalcomponent* c) {
    if (first == nullptr) first = c;
  });
  return first;
}

// Stands for a comma inside one category until the text is written (a private-use character:
// the task files cannot hold it, so no key word has one of its own).
inline constexpr QChar kCommaMark = QChar(0xE000);
// The component as iCalendar text (UTF-8, CRLF, folded).
QByteArray Serialize(icalcomponent* c);

icalcomponent* NewCalendar();
icalcomponent* NewTodo(const TaskRecord& task, const QString& uid, const QDateTime& now);
ICalImport ReadTodo(icalcomponent* todo);
// The X-LIC-ERROR texts of a component's own properties, joined; empty when none.
QString ErrorsOf(icalcomponent* c);

}  // namespace icalsupport
