; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer: for the one user who runs it, without administrator rights, into
; %LOCALAPPDATA%\Programs\Quillmere. tools/build-windows makes it with
;   makensis -INPUTCHARSET UTF8 -DVERSION=0.1 -DVERSION4=0.1.0.0 -DSTAGE=FOLDER -DOUTFILE=FILE
; where FOLDER holds what the zip holds: quillmere.exe, cars.txt, README.txt, SOURCES and
; licenses\. The uninstaller removes what this installed, but a cars.txt the player changed,
; and never the records of the car installs in %LOCALAPPDATA%\quillmere.
; Neither runs while Quillmere does: each asks the player to close it, and silent (/S), ends
; with exit code 2 having changed nothing. Nor does either skip a file it cannot write or
; remove: the uninstall entry goes only with the program's files.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
AllowSkipFiles off

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmere"
!define STARTMENU "$SMPROGRAMS\Quillmere"
!define UNDO_ENTRY "Отменить установку машины"
; The car list as the installer wrote it, hidden beside the player's: the uninstaller keeps
; the player's when the two differ.
!define CARS_AS_INSTALLED "cars.txt.installed"
; The mutex each running copy of the program holds (runtime/windows/windowshost.cpp,
; announceRunning).
!define RUNNING_MUTEX "Local\Quillmere-running"
; "Open with" for a car's archives and models, for this user, leaving each type's default as
; it is: the application's own key lists the types it opens, and a ProgID is named under each
; type's OpenWithProgids ("How to include an application in the Open With dialog box" and
; "Application Registration", Microsoft Learn, Windows Shell).
!define APP_KEY "Software\Classes\Applications\quillmere.exe"
!define PROGID "Quillmere.Car"
!define PROGID_KEY "Software\Classes\${PROGID}"
; Each of the types, as the command's $R0.
!macro FOR_EACH_TYPE command
    !insertmacro FOR_TYPE ".zip" `${command}`
    !insertmacro FOR_TYPE ".7z" `${command}`
    !insertmacro FOR_TYPE ".rar" `${command}`
    !insertmacro FOR_TYPE ".4ds" `${command}`
!macroend
!macro FOR_TYPE type command
    StrCpy $R0 "${type}"
    ${command}
!macroend
!define ForEachType "!insertmacro FOR_EACH_TYPE"

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

; Returns once no copy of the program runs. While one does, asks the player to close it and
; try again; cancelled, or silent, ends the installer with exit code 2. OpenMutexW with
; SYNCHRONIZE (0x00100000), the least access that opens it ("Synchronization Object Security
; and Access Rights"), gives no handle when no process holds the mutex.
!macro WAIT_FOR_PROGRAM un
Function ${un}WaitForProgram
    ${Do}
        System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${RUNNING_MUTEX}") p .r0'
        ${If} $0 = 0
            ${Break}
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r0)'
        ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "Quillmere сейчас запущен: закройте его и повторите попытку." /SD IDCANCEL IDRETRY`
            SetErrorLevel 2
            Quit
        ${EndIf}
    ${Loop}
FunctionEnd
!macroend
!insertmacro WAIT_FOR_PROGRAM ""
!insertmacro WAIT_FOR_PROGRAM "un."

Function .onInit
    Call WaitForProgram
FunctionEnd

Function un.onInit
    Call un.WaitForProgram
FunctionEnd

; The command line "Open with" and a double click start.
!define OPEN_COMMAND '"$INSTDIR\quillmere.exe" "%1"'

Function RegisterOpenWith
    WriteRegStr HKCU "${APP_KEY}" "FriendlyAppName" "Quillmere"
    WriteRegStr HKCU "${APP_KEY}\shell\open\command" "" '${OPEN_COMMAND}'
    WriteRegStr HKCU "${PROGID_KEY}" "" "Машина для Quillmere"
    WriteRegStr HKCU "${PROGID_KEY}\DefaultIcon" "" "$INSTDIR\quillmere.exe,0"
    WriteRegStr HKCU "${PROGID_KEY}\shell\open\command" "" '${OPEN_COMMAND}'
    ${ForEachType} `WriteRegStr HKCU "${APP_KEY}\SupportedTypes" "$R0" ""`
    ${ForEachType} `WriteRegNone HKCU "Software\Classes\$R0\OpenWithProgids" "${PROGID}"`
    ; SHCNE_ASSOCCHANGED: Explorer reads the associations again.
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
FunctionEnd

Function un.UnregisterOpenWith
    DeleteRegKey HKCU "${APP_KEY}"
    DeleteRegKey HKCU "${PROGID_KEY}"
    ${ForEachType} `DeleteRegValue HKCU "Software\Classes\$R0\OpenWithProgids" "${PROGID}"`
    ${ForEachType} `DeleteRegKey /ifempty HKCU "Software\Classes\$R0\OpenWithProgids"`
    ; The type's own key too where it holds nothing else (/ifempty weighs values as well).
    ${ForEachType} `DeleteRegKey /ifempty HKCU "Software\Classes\$R0"`
    System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
FunctionEnd

Section
    SetShellVarContext current
    ; The player may have started it since the installer did.
    Call WaitForProgram
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
    Call RegisterOpenWith
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Stops the uninstall with exit code 2, leaving the uninstaller, the Start-menu entries and
; the uninstall entry for another try.
!macro UNINSTALL_STOPS_AT file
    ${If} ${FileExists} "${file}"
        DetailPrint "Не удалось удалить ${file}: удаление прервано, запись об установке оставлена"
        SetErrorLevel 2
        Abort
    ${EndIf}
!macroend

Section Uninstall
    SetShellVarContext current
    Call un.WaitForProgram
    ; The program first: while it cannot go, nothing else does.
    Delete "$INSTDIR\quillmere.exe"
    !insertmacro UNINSTALL_STOPS_AT "$INSTDIR\quillmere.exe"
    Call un.CarListUnchanged
    ${If} $0 = 1
        Delete "$INSTDIR\cars.txt"
    ${ElseIf} ${FileExists} "$INSTDIR\cars.txt"
        DetailPrint "cars.txt оставлен: вы его меняли"
    ${EndIf}
    Delete "$INSTDIR\${CARS_AS_INSTALLED}"
    Delete "$INSTDIR\README.txt"
    Delete "$INSTDIR\SOURCES"
    RMDir /r "$INSTDIR\licenses"
    !insertmacro UNINSTALL_STOPS_AT "$INSTDIR\README.txt"
    !insertmacro UNINSTALL_STOPS_AT "$INSTDIR\SOURCES"
    !insertmacro UNINSTALL_STOPS_AT "$INSTDIR\licenses"

    Delete "${STARTMENU}\Quillmere.lnk"
    Delete "${STARTMENU}\${UNDO_ENTRY}.lnk"
    RMDir "${STARTMENU}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
    Call un.UnregisterOpenWith
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
SectionEnd
