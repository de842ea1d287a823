#pragma once

#include <span>

/// Every text the main window shows, in one place. The watcher and the window take their texts from here,
/// and the window's tests check that each text fits every control it can appear in, so a text added here is
/// checked without further ado. Texts are UTF-8.

/// The controls whose texts the watcher sets.
enum class TWindowControl
{
    Caption,
    TrayHint,
    Label1,
    StatusPanel1,
    StatusPanel2,
    CheckBox1
};

/// One text a control can show. A counted text is shown after a decimal count ("12 Fotos gefunden").
struct TWindowText
{
    TWindowControl Control;
    const char* Text;
    bool Counted;
};

inline constexpr const char* kTextWaitForCameraDesign = "Warte auf Camera";
inline constexpr const char* kTextWaitForCamera = "Warte auf Kamera";
inline constexpr const char* kTextFetchingPhotos = "Hole Fotos";
inline constexpr const char* kTextTransferEnded = "Übertragung beendet";
inline constexpr const char* kTextPhotosTransferred = "Fotos übertragen";
inline constexpr const char* kTextTransferFaults = "Fehler bei der Übertragung";
inline constexpr const char* kTextNoDevice = "Kein Gerät angeschlossen";
inline constexpr const char* kTextNoCamera = "Keine Kamera gefunden";
inline constexpr const char* kTextPhotosFound = " Fotos gefunden";
inline constexpr const char* kTextPhotosCopied = " Fotos kopiert";
inline constexpr const char* kTextNoNewPhotos = "Keine neuen Fotos vorhanden";
inline constexpr const char* kTextTransferEndedWithFaults = "Übertragung mit Fehlern beendet";
inline constexpr const char* kTextWaitForPhotos = "Warte auf Fotos...";
inline constexpr const char* kTextPhotosNotTransferred = " Fotos nicht übertragen";
inline constexpr const char* kTextPhotosTurned = " Fotos gedreht";
/// Photos that were transferred but could not be turned upright.
inline constexpr const char* kTextPhotosNotTurned = " Fotos nicht gedreht";
inline constexpr const char* kTextTurnIfPossible = "Wenn möglich Bilder drehen";
inline constexpr const char* kTextTurning = "Bilder werden gedreht";
inline constexpr const char* kTextNoAutoTurn = "Auto-Drehen wird nicht unterstützt";

/// Every text of every control above, the empty texts of the status panels included.
std::span<const TWindowText> WindowTexts();
