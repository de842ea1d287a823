// Compiled only by the cross build for Windows: the tray seam must hold its
// own next to the Windows headers that a Windows shell includes first.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#include "tray/TrayShell.h"
// clang-format on
