#pragma once

#include "app/core/ProgramOptions.h"

#include <QStringList>

#include <string>
#include <vector>

/// Prepares the picture runtime once the GUI application exists: registers the JPEG picture class for
/// "jpg" and "jpeg", and decodes to a palette only when the screen shows 256 colours or fewer.
void PreparePictureRuntime();

/// The volumes among the program's arguments (without the program's own name): each a folder path,
/// relative ones made absolute, or a file URL ("file:///media/user/CARD"), as desktops pass them when the
/// user opens a card with the program. URLs of other kinds, and file URLs of another host, name nothing on
/// this machine's file system and are left out.
QStringList VolumeArguments(const QStringList& arguments);
/// The same for the volumes of the command line as ParseProgramOptions gives them (bytes, as the file
/// system takes them).
QStringList VolumeArguments(const std::vector<std::string>& arguments);

/// Answers a command line that asks for no window: the help (naming the folder the photos go to and the
/// import log) or the version on standard output, an unknown option on standard error. Needs no display.
/// Returns the program's exit status: 0, or 2 for an unknown option.
int AnswerOnTerminal(const TProgramOptions& options);

/// Started from a terminal, the program says in one line on standard error that it is running, where (the
/// tray, or its window for want of one), and where its log is.
void TellTerminal(bool inTray);
