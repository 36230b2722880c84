#include "widgets/AccessibleNames.h"

#include <QWidget>

bool NameControls(QWidget* form, std::initializer_list<AccessibleText> texts) {
  bool all = true;
  for (const AccessibleText& t : texts) {
    QWidget* control = form->findChild<QWidget*>(QLatin1String(t.control));
    if (control == nullptr) {
      qWarning("NameControls: %s has no control %s", qPrintable(form->objectName()), t.control);
      all = false;
      continue;
    }
    control->setAccessibleName(QString::fromUtf8(t.name));
    if (t.description != nullptr) control->setAccessibleDescription(QString::fromUtf8(t.description));
  }
  return all;
}
