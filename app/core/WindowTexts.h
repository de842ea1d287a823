#pragma once

#include <span>

/// Every text the main window shows, in one place. The watcher and the window take their texts from here,
/// and the window's tests check that each text fits every control it can appear in, so a text added here is
/// checked without further ado. Texts are UTF-8.

/// The controls of the main window and its tray menu that show a text.
enum class TWindowControl
{
    Caption,
    TrayHint,
    /// The message over the progress bar.
    Message,
    /// The two panels of the status bar.
    Panel1,
    Panel2,
    /// The choices for a run: turning photos, copying them, moving them.
    TurnOption,
    CopyOption,
    MoveOption,
    /// The window's two commands: dismiss the window, transfer the photos.
    DismissCommand,
    TransferCommand,
    /// The items of the tray menu, and of the window's own menu where there is no tray.
    MenuCommand,
    /// The desktop notification that a card brings where the window cannot come forward by itself: its
    /// title and its text.
    NotificationTitle,
    NotificationText
};

/// One text a control can show. A counted text is shown after a decimal count ("12 Fotos gefunden"); one
/// with a second part has a second count between the two ("5 gedreht, 2 nicht gedreht"); a named one may be
/// followed by ": " and the name of a card or storage ("Hole Fotos: Interner gemeinsamer Speicher").
struct TWindowText
{
    TWindowControl Control;
    const char* Text;
    bool Counted;
    const char* Second = nullptr;
    bool Named = false;
};

inline constexpr const char* kTextWaitForCameraDesign = "Warte auf Camera";
inline constexpr const char* kTextWaitForCamera = "Warte auf Kamera";
inline constexpr const char* kTextFetchingPhotos = "Hole Fotos";
inline constexpr const char* kTextTransferEnded = "Übertragung beendet";
/// After a run: every file below DCIM is in the target and verified.
inline constexpr const char* kTextCardMayBeFormatted = "Karte kann formatiert werden";
/// After a run: files that are not (verified) in the target stay on the card.
inline constexpr const char* kTextFilesStayOnCard = " Dateien bleiben auf der Karte";
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
/// Some photos turned and some not: "5 gedreht, 2 nicht gedreht".
inline constexpr const char* kTextTurnedAnd = " gedreht, ";
inline constexpr const char* kTextAndNotTurned = " nicht gedreht";
inline constexpr const char* kTextTurnIfPossible = "Wenn möglich Bilder drehen";
inline constexpr const char* kTextTurning = "Bilder werden gedreht";
inline constexpr const char* kTextNoAutoTurn = "Auto-Drehen wird nicht unterstützt";
inline constexpr const char* kTextCopyPhotos = "Fotos kopieren";
inline constexpr const char* kTextMovePhotos = "Fotos kopieren und in Kamera löschen";
inline constexpr const char* kTextCloseWindowButton = "Fenster Schliessen";
inline constexpr const char* kTextOpenWindowItem = "Fenster öffnen";
inline constexpr const char* kTextCloseWindowItem = "Fenster schliessen";
inline constexpr const char* kTextQuitItem = "Beenden";
/// After a run: the folder its photos went into, and the import log; also the hints of the message and the
/// status bar, which open them.
inline constexpr const char* kTextShowPhotosItem = "Fotos anzeigen";
inline constexpr const char* kTextShowLogItem = "Protokoll anzeigen";
/// A message box, followed by the path, when the desktop has no program to open a folder or the log with.
inline constexpr const char* kTextCannotOpen = "Kann nicht geöffnet werden: ";
inline constexpr const char* kTextCameraFound = "Kamera gefunden";

/// Every text of every control above, the empty texts of the status panels included.
std::span<const TWindowText> WindowTexts();
