#pragma once

// One tab stop of a report line, in inches from the left edge of the paper.
struct TabStop {
  enum class Justify { Left, Center, Right };
  // Border lines drawn around the stop's cell on the current line.
  enum Lines { kNone = 0, kTop = 1, kBottom = 2, kLeft = 4, kRight = 8, kAll = 15 };

  double position = 0;
  double width = 0;
  Justify justify = Justify::Left;
  // Blank space kept inside the cell on the left and on the right, in hundredths of an inch.
  int margin = 0;
  int lines = kNone;
  // Grey shading of the cell in percent (0 = none, 100 = black).
  int shade = 0;

  double TextStart() const { return position + margin / 100.0; }
  double TextWidth() const { return width - 2 * margin / 100.0; }
  double End() const { return position + width; }
};
