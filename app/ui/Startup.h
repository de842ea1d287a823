#pragma once

#include <QStringList>

/// Prepares the picture runtime once the GUI application exists: registers the JPEG picture class for
/// "jpg" and "jpeg", and decodes to a palette only when the screen shows 256 colours or fewer.
void PreparePictureRuntime();

/// The volumes among the program's arguments (without the program's own name): each a folder path,
/// relative ones made absolute, or a file URL ("file:///media/user/CARD"), as desktops pass them when the
/// user opens a card with the program. URLs of other kinds, and file URLs of another host, name nothing on
/// this machine's file system and are left out.
QStringList VolumeArguments(const QStringList& arguments);
