#pragma once

#include <QColor>
#include <QCursor>
#include <QFont>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <QStringList>

#include "widgets/PopupHelpSettings.h"
#include "widgets/TPopupHelpText.h"

class QAbstractButton;
class QMenu;
class QWidget;
class TPopupHelpPopup;

// A form's "What's this?" help: a short text per control name, shown in a small popup next to
// the control. The user gets there by right-clicking a control and choosing "What's this?", or
// by the form's help-mode button (the pointer becomes a question mark and the next left click
// picks the control). A control without a text of its own shows its nearest parent's.
//
// How a form wires it (objectName of each control = the name registered here):
//   PopupHelp1 = new TPopupHelp(this);                    // parent: the form
//   PopupHelp1->AddHelp("OKButton", "Click here to save changes");
//   PopupHelp1->AddHelp("KeysBox", "->KeyWords");         // use KeyWords' text
//   PopupHelp1->AddRecord("Label1");                      // a record without text
//   WhatsThisMenu = TPopupHelp::CreateWhatsThisMenu(this);  // its item shows the help of the
//                                                           // control it was opened on
//   PopupHelp1->WireForm(WhatsThisMenu, {"OKButton", ...}, MouseHelpButton, 1004);
//     // the menu on those controls, the button and Shift+F1 start the help mode, F1 opens
//     // help topic 1004, and the popup colour follows the system window colour at each
//     // activation of the form
class TPopupHelp : public QObject {
  Q_OBJECT

 public:
  // `form` owns the component; its controls are the ones looked up.
  explicit TPopupHelp(QWidget* form);

  TPopupHelpText& HelpText() { return help_text_; }
  const TPopupHelpText& HelpText() const { return help_text_; }
  void SetHelpText(const TPopupHelpText& text) { help_text_ = text; }
  // Registers a control's text (see TPopupHelpText::AddHelp).
  bool AddHelp(const QString& control_name, const QString& text, quint32 help_context = 0);
  // Registers a control with a record but no text: the lookup passes on to its parent.
  bool AddRecord(const QString& control_name);
  // The help text of the control named `control_name`, redirects followed, line breaks as
  // blanks; "" when it has none.
  QString TextFor(const QString& control_name) const;
  // Gives each control of the form that has a help text that text as its accessible description,
  // so a screen reader says what the "What's this?" popup shows; a description the control has
  // already is kept. WireForm calls it; forms that add help after it call it again.
  void DescribeControls();

  QColor Color() const { return color_; }
  void SetColor(const QColor& color) { color_ = color; }
  QFont Font() const { return font_; }
  void SetFont(const QFont& font) { font_ = font; }
  // When true (the default) the popup uses the form's font.
  bool ParentFont() const { return parent_font_; }
  void SetParentFont(bool parent_font) { parent_font_ = parent_font; }
  // Width in pixels at which the popup text wraps (1..32767).
  int MaxWidth() const { return max_width_; }
  void SetMaxWidth(int width);
  QString MoreText() const { return more_text_; }
  void SetMoreText(const QString& text) { more_text_ = text; }

  QWidget* Form() const;

  // Shows the popup for `control`, or for the nearest of its parents that has a text (the form
  // itself is never looked up). Nothing shows when none has; nullptr just ends the interaction.
  void ShowHelpFor(QWidget* control);
  // Starts the help mode on the form: question cursor; the next left click picks a control,
  // Esc (or the focus leaving) ends the mode with the focus back where it was.
  void StartHelpMode();
  // True while the form's help mode lasts.
  bool InHelpMode() const;

  // Looks `control`'s name up in the help of the form it stands on (following "->" redirects;
  // a redirect chain that comes back on itself finds nothing) and shows the popup at
  // `screen_rect`. True when a popup was shown.
  static bool FindControlHelp(QWidget* control, const QRect& screen_rect);
  // The control's rectangle in screen coordinates.
  static QRect ScreenRect(const QWidget* control);

  // The application's popup; nullptr until the first display.
  static TPopupHelpPopup* Popup();
  // What the latest ShowHelpFor or StartHelpMode put in force.
  static const PopupHelpSettings& Settings();
  // Tells the component of the latest call that the help interaction has ended.
  static void NotifyHelpDone();

  // The "QCURSOR" question cursor (from the resources; a standard one if they are missing) and
  // its picture, which the help-mode buttons carry.
  static QCursor QuestionCursor();
  static QImage QuestionImage();
  // The picture for a form's MouseHelpButton: the question pointer cut to its size, with a
  // see-through top-left pixel (a flat button's transparent colour). Empty without resources.
  static QImage MouseHelpBitmap();

  // A "WhatsThisMenu" with its single "What's this?" item (named `item_name`), owned by `form`.
  // Choosing the item shows the help of the control the menu was opened on
  // (ConnectWhatsThisMenu).
  static QMenu* CreateWhatsThisMenu(QWidget* form,
                                    const QString& item_name = QStringLiteral("Whatsthis"));
  // Makes the first item of `menu` show the help of the control the menu was opened on, through
  // the popup help of that control's form.
  static void ConnectWhatsThisMenu(QMenu* menu);
  // Makes `menu` the right-click menu of `control`; the menu remembers on which control it was
  // opened (PopupComponent).
  static void SetWhatsThisMenu(QWidget* control, QMenu* menu);
  static QWidget* PopupComponent(const QMenu* menu);

  // F1 opens the help window at `help_context`; Shift+F1 starts the help mode.
  void InstallHelpKeys(int help_context);
  void InstallHelpKey(int help_context);
  void InstallHelpModeKey();

  // What every form with popup help has, in one call: `menu` becomes the right-click menu of
  // each control named in `menu_controls` (found by object name on the form; false when one is
  // missing), `mouse_help_button` and Shift+F1 start the help mode, F1 opens `help_context`
  // (0: the form binds F1 itself), and each activation of the form sets the popup colour to
  // the system window colour.
  bool WireForm(QMenu* menu, const QStringList& menu_controls, QAbstractButton* mouse_help_button,
                int help_context);
  // Sets the popup colour to the system window colour now and at each activation of the form.
  void FollowWindowColor();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 signals:
  // A help interaction of this component ended (popup hidden, or nothing shown).
  void HelpDone();

 private:
  void CopySettings();

  TPopupHelpText help_text_;
  QColor color_ = QColor(255, 255, 232);
  QFont font_;
  bool parent_font_ = true;
  int max_width_ = 300;
  QString more_text_ = QStringLiteral("Click here or press F1 for more...");
  bool follows_window_color_ = false;
};
