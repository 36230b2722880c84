#pragma once

#include <QColor>
#include <QFont>
#include <QPointer>
#include <QString>

class TPopupHelp;

// What the one popup and the help mode use for a display. Each ShowHelpFor or StartHelpMode
// copies its component's values here, so the latest call decides; the popup itself is shared
// by every form of the application.
struct PopupHelpSettings {
  QPointer<TPopupHelp> source;  // notified (HelpDone) when the interaction ends
  QColor color = QColor(255, 255, 232);
  QString more_text = QStringLiteral("Click here or press F1 for more...");
  QFont font;
  int max_width = 300;
};
