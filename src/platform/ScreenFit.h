#pragma once

#include <QRect>

class QWidget;

// Keeps windows where the user can reach them: a rectangle that fits the screen's free area
// (without panels and docks) stays as it is; one that does not is moved, and shrunk where it is
// larger than that area, until it lies inside it.
class ScreenFit {
 public:
  // `wanted` moved and shrunk into `area`; unchanged when it already lies inside. An empty
  // `area` (no screen known) leaves `wanted` as it is.
  static QRect Fit(const QRect& wanted, const QRect& area);

  // The free area of the screen that holds most of `rect` (or the nearest one), in the same
  // device-independent pixels as widget geometry.
  static QRect AvailableAreaFor(const QRect& rect);

  // Fits `window`'s frame (its geometry plus the window manager's frame, as far as known) into
  // the free area of its screen.
  static void FitWindow(QWidget* window);
};
