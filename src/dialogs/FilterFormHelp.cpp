#include "dialogs/FilterFormHelp.h"

#include <QAbstractButton>
#include <QWidget>

#include "widgets/AccessibleNames.h"
#include "widgets/TPopupHelp.h"

namespace {

constexpr int kHelpContext = 1018;

struct HelpText {
  const char* control;
  const char* text;
};

constexpr HelpText kTexts[] = {
    {"CancelButton", "Click here to cancel your selection and exit"},
    {"DateFilter", "Select a range of dates to filter on, or select 'All Dates'."},
    {"KeyListbutton", "Click here for a menu of key words you have used"},
    {"KeysBox", "->KeyWords"},
    {"KeyWords",
     "Enter any Key Words to filter on here. If you use more than one Key Word, separate them "
     "with a comma. i.e. 'Joe, Betty'.\r\n"},
    {"OKButton", "Click here to accept your selection and exit"},
    {"PriorityFilter", "Select a priority level to filter by"},
    {"ResetButton", "Click here to reset the filter back to its defaults - which is all tasks."},
};

// Controls with a record but no text: a click on them passes on to their parent (the hint
// under the key words to the key-words group).
constexpr const char* kWithoutText[] = {"Label3", "Panel1", "Helpbutton", "MouseHelpButton"};

}  // namespace

TPopupHelp* FilterFormHelp::Install(QWidget* filter, QMenu* whatsThisMenu) {
  auto* help = new TPopupHelp(filter);
  help->SetMaxWidth(300);
  for (const HelpText& entry : kTexts) {
    help->AddHelp(QLatin1String(entry.control), QLatin1String(entry.text));
  }
  for (const char* name : kWithoutText) help->AddRecord(QLatin1String(name));
  help->WireForm(whatsThisMenu,
                 {QStringLiteral("DateFilter"), QStringLiteral("PriorityFilter"),
                  QStringLiteral("KeyListbutton"), QStringLiteral("OKButton"),
                  QStringLiteral("CancelButton"), QStringLiteral("ResetButton")},
                 filter->findChild<QAbstractButton*>(QStringLiteral("MouseHelpButton")),
                 kHelpContext);
  NameControls(filter, {{"KeyListbutton", "Key word list", nullptr},
                        {"Helpbutton", "Help", "Opens the help window at the filter"},
                        {"MouseHelpButton", "What's this?", "Click here, then on a control, to see what it is for"}});
  return help;
}
