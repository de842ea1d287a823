#pragma once

#include <QIcon>
#include <QPixmap>

/// The program's 100 x 100 picture (a camera).
QPixmap ProgramPicture();
/// The window and tray icon: the camera drawn for each size from 16 to 48 pixels.
QIcon ProgramIcon();
/// The 16 x 16 glyph of the info button.
QPixmap InfoGlyph();
