; The Windows installer of fotoimport (NSIS): the program into the user's
; programs folder, a Start menu entry, a start with every logon (the user's
; Run key) and an uninstaller that takes all three away again. It needs no
; administrator, as the program runs for one user.
;   makensis -DVERSION=0.1.0 -DPROGRAM=fotoimport.exe -DICON=fotoimport.ico -DOUTFILE=setup.exe fotoimport.nsi
; /S installs and uninstalls silently.

; A 64-bit installer for the 64-bit program (and for Wine without its 32-bit part).
Target amd64-unicode
!ifndef VERSION | PROGRAM | ICON | OUTFILE
!error "VERSION, PROGRAM, ICON and OUTFILE must be given"
!endif

!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\fotoimport"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "Fotoimport"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\fotoimport"
RequestExecutionLevel user
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1031 "ProductName" "Fotoimport"
VIAddVersionKey /LANG=1031 "FileDescription" "Fotoimport Setup"
VIAddVersionKey /LANG=1031 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1031 "LegalCopyright" "fotoimport"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\fotoimport.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "German"

Section "Fotoimport"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "/oname=fotoimport.exe" "${PROGRAM}"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateShortcut "$SMPROGRAMS\Fotoimport.lnk" "$INSTDIR\fotoimport.exe" "" "$INSTDIR\fotoimport.exe" 0
    WriteRegStr HKCU "${RUN_KEY}" "fotoimport" '"$INSTDIR\fotoimport.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Fotoimport"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "fotoimport"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\fotoimport.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    ; A program still running keeps its file until the next restart.
    Delete /REBOOTOK "$INSTDIR\fotoimport.exe"
    Delete "$INSTDIR\uninstall.exe"
    RMDir /REBOOTOK "$INSTDIR"
    Delete "$SMPROGRAMS\Fotoimport.lnk"
    DeleteRegValue HKCU "${RUN_KEY}" "fotoimport"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
