#pragma once

#include <initializer_list>

class QWidget;

// What assistive technology says for a control: its accessible name (what it is, as a sighted
// user reads it from the caption or the label beside it) and, for a control without a help text
// to take it from, its description (what it does).
struct AccessibleText {
  const char* control;      // object name on the form
  const char* name;
  const char* description;  // nullptr: the help text gives it (TPopupHelp::DescribeControls)
};

// Names the form's controls; false (and a warning) when one is missing.
bool NameControls(QWidget* form, std::initializer_list<AccessibleText> texts);
