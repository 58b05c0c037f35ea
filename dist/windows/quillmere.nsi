; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer: for the one user who runs it, without administrator rights, into
; %LOCALAPPDATA%\Programs\Quillmere. tools/build-windows makes it with
;   makensis -INPUTCHARSET UTF8 -DVERSION=0.1 -DVERSION4=0.1.0.0 -DSTAGE=FOLDER -DOUTFILE=FILE
; where FOLDER holds what the zip holds: quillmere.exe, cars.txt, README.txt, SOURCES and
; licenses\. The uninstaller removes what this installed, but a cars.txt the player changed,
; and never the records of the car installs in %LOCALAPPDATA%\quillmere.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmere"
!define STARTMENU "$SMPROGRAMS\Quillmere"
!define UNDO_ENTRY "Отменить установку машины"
; The car list as the installer wrote it, hidden beside the player's: the uninstaller keeps
; the player's when the two differ.
!define CARS_AS_INSTALLED "cars.txt.installed"

Name "Quillmere"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quillmere"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

!define MUI_FINISHPAGE_RUN "$INSTDIR\quillmere.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

VIProductVersion "${VERSION4}"
VIAddVersionKey "ProductName" "Quillmere"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Dunhallow"
VIAddVersionKey "FileDescription" "Установка Quillmere"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "GNU GPL 3 or later"

; Sets $0 to 1 when $INSTDIR\cars.txt holds the same bytes as the one the installer wrote,
; else to 0 (also when either cannot be read).
!macro CAR_LIST_UNCHANGED un
Function ${un}CarListUnchanged
    StrCpy $0 0
    ClearErrors
    FileOpen $1 "$INSTDIR\cars.txt" r
    ${If} ${Errors}
        Return
    ${EndIf}
    FileOpen $2 "$INSTDIR\${CARS_AS_INSTALLED}" r
    ${IfNot} ${Errors}
        FileSeek $1 0 END $3
        FileSeek $2 0 END $4
        ${If} $3 = $4
            FileSeek $1 0 SET
            FileSeek $2 0 SET
            ${Do}
                ClearErrors
                FileReadByte $1 $3
                ${If} ${Errors}
                    StrCpy $0 1
                    ${Break}
                ${EndIf}
                FileReadByte $2 $4
                ${If} ${Errors}
                    ${Break}
                ${EndIf}
            ${LoopWhile} $3 = $4
        ${EndIf}
        FileClose $2
    ${EndIf}
    FileClose $1
FunctionEnd
!macroend
!insertmacro CAR_LIST_UNCHANGED ""
!insertmacro CAR_LIST_UNCHANGED "un."

Section
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    File "${STAGE}/quillmere.exe"
    File "${STAGE}/README.txt"
    File "${STAGE}/SOURCES"
    File /r "${STAGE}/licenses"

    ; Installing again, or a newer version, keeps a car list the player changed.
    Call CarListUnchanged
    ${If} $0 = 1
    ${OrIfNot} ${FileExists} "$INSTDIR\cars.txt"
        File "${STAGE}/cars.txt"
    ${Else}
        DetailPrint "cars.txt оставлен как есть: вы его меняли"
    ${EndIf}
    SetFileAttributes "$INSTDIR\${CARS_AS_INSTALLED}" NORMAL
    File "/oname=${CARS_AS_INSTALLED}" "${STAGE}/cars.txt"
    SetFileAttributes "$INSTDIR\${CARS_AS_INSTALLED}" HIDDEN

    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateDirectory "${STARTMENU}"
    CreateShortcut "${STARTMENU}\Quillmere.lnk" "$INSTDIR\quillmere.exe"
    CreateShortcut "${STARTMENU}\${UNDO_ENTRY}.lnk" "$INSTDIR\quillmere.exe" "--undo-window"

    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Quillmere"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Dunhallow"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillmere.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section Uninstall
    SetShellVarContext current
    Call un.CarListUnchanged
    ${If} $0 = 1
        Delete "$INSTDIR\cars.txt"
    ${ElseIf} ${FileExists} "$INSTDIR\cars.txt"
        DetailPrint "cars.txt оставлен: вы его меняли"
    ${EndIf}
    Delete "$INSTDIR\${CARS_AS_INSTALLED}"
    Delete "$INSTDIR\quillmere.exe"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\SOURCES"
    RMDir /r "$INSTDIR\licenses"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"

    Delete "${STARTMENU}\Quillmere.lnk"
    Delete "${STARTMENU}\${UNDO_ENTRY}.lnk"
    RMDir "${STARTMENU}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
