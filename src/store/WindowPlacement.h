#pragma once

#include <QRect>
#include <QString>
#include <optional>

class QWidget;

// Where windows open. Windows that remember their place (the main window, the print preview)
// keep their normal rectangle and maximised state in the settings file, in a section named after
// their class, "_Placement" and, on screens above 96 dots per inch, the resolution
// ("TMainScreen_Placement120"), so that a change of resolution does not reuse a rectangle made
// for other pixels. Every other dialog is centred over the main window.
class WindowPlacement {
 public:
  // What the placement rules need to know of the screen. Tests put in a screen of their own.
  struct ScreenMetrics {
    QRect geometry;
    int logicalDpi = 96;
  };

  // The section that holds `window`'s placement on the current screen.
  static QString SectionName(const QWidget* window);

  // Writes Left, Top, Right (exclusive), Bottom of the window's normal rectangle and whether it
  // is maximised. False, after the message, when the settings file cannot be written.
  static bool SavePlacement(const QWidget* window);
  // Applies the stored rectangle where it fits the free area of its screen, else moved and
  // shrunk into that area (ScreenFit), or PlaceDialog when none is stored; maximises the window when it was saved maximised; then saves
  // the placement, so the section exists from the first start on. Returns SavePlacement's result.
  static bool RestorePlacement(QWidget* window);
  // Centres the main window (class TMainScreen) on the screen, and any other window over the main
  // window, or on the screen while the main window is maximised. A window with a maximise button
  // is given the system menu too.
  static void PlaceDialog(QWidget* window);

  // The window PlaceDialog centres over. Unless one is set, the top-level TMainScreen, or else
  // the dialog's own parent window.
  static void SetMainWindow(QWidget* window);

  // The primary screen, or the one a test put in place.
  static ScreenMetrics Screen();
  static void SetScreenOverride(std::optional<ScreenMetrics> metrics);
};
