#include "dialogs/DateSelectorHelp.h"

#include <QAbstractButton>
#include <QWidget>

#include "widgets/AccessibleNames.h"
#include "widgets/TPopupHelp.h"

namespace {

constexpr int kHelpContext = 1004;
constexpr int kMaxWidth = 200;

struct HelpText {
  const char* control;
  const char* text;
};

constexpr HelpText kTexts[] = {
    {"CancelButton", "Click to cancel and return to the previous screen"},
    {"NextMonth", "Click here to see the next month's calendar"},
    {"NextYear", "Click here to see the next year's calendar"},
    {"OKButton", "Click here to use the selected date"},
    {"PrevMonth", "Click here to see the previous month's calendar"},
    {"PrevYear", "Click here to see the previous year's calendar"},
};

// Controls with a record but no text: a click on them passes on to their parent.
constexpr const char* kWithoutText[] = {"DateLabel", "Calendar",   "DoCurrentDate",
                                        "Panel1",    "Helpbutton", "MouseHelpButton"};

}  // namespace

TPopupHelp* DateSelectorHelp::Install(QWidget* selector, QMenu* whatsThisMenu) {
  auto* help = new TPopupHelp(selector);
  help->SetMaxWidth(kMaxWidth);
  for (const HelpText& entry : kTexts) {
    help->AddHelp(QLatin1String(entry.control), QLatin1String(entry.text));
  }
  for (const char* name : kWithoutText) help->AddRecord(QLatin1String(name));
  help->WireForm(
      whatsThisMenu,
      {QStringLiteral("PrevYear"), QStringLiteral("PrevMonth"), QStringLiteral("DoCurrentDate"),
       QStringLiteral("NextMonth"), QStringLiteral("NextYear"), QStringLiteral("OKButton"),
       QStringLiteral("CancelButton")},
      selector->findChild<QAbstractButton*>(QStringLiteral("MouseHelpButton")), kHelpContext);
  NameControls(selector, {{"Calendar", "Calendar", "The days of the month shown; the one picked is the date used"},
                          {"DoCurrentDate", "Today", "Click here to show this month with today picked"},
                          {"Helpbutton", "Help", "Opens the help window at the calendar"},
                          {"MouseHelpButton", "What's this?", "Click here, then on a control, to see what it is for"}});
  return help;
}
