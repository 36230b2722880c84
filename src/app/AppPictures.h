#pragma once

#include <QIcon>
#include <QString>

// The program's own pictures: those of the main window's buttons and the program icon. They are
// drawn as SVG on a 16-unit grid (lines on the half units, so they fall on whole pixels at 1x and
// 2x) and rendered at whatever pixel size a screen asks for.
namespace AppPictures {

// The picture `name` ("edit", "new", ... the file names under icons/ without ".svg"); a null
// icon when there is no such picture. Its outlines follow the application's palette at each
// rendering: near black on a light button face, the button text colour on a dark one. Whoever
// keeps a rendering renders it again when the palette changes (TFlatButton does).
QIcon Picture(const QString& name);

// The program's window icon: a task list on a clipboard.
QIcon ProgramIcon();

}  // namespace AppPictures
