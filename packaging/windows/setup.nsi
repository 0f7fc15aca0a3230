; The setup program, olvex-updater-<version>-windows-x64-setup.exe: installs
; the files of the zip for the whole machine into Program Files\Olvex Updater,
; with the Start-menu entries, an optional desktop shortcut and the entry of
; "Apps & features". Run over an installed version (older, newer or the
; same), it first removes that one with its own uninstaller, so that one entry
; and no file of the old version remain. It installs only into a folder of
; its own (below).
;
;   setup.exe                 asks, shows its progress
;   setup.exe /S              silent; exit status 0 installed, 2 failed
;   setup.exe /S /DESKTOP     silent, with the desktop shortcut
;   setup.exe /S /D=C:\Tools\Olvex Updater
;                             another folder (the last option, unquoted)
;
; Built by MakeSetup.cmake (see olvex-updater.nsh for what it passes).

!include "olvex-updater.nsh"

OutFile "${OLVEX_OUT}"
SetCompressor /SOLID lzma
InstallDir "$PROGRAMFILES64\Olvex Updater"
; NSIS would put a drive's root given with /D= silently aside for the folder
; above; the setup's own check of the folder refuses it in words instead.
AllowRootDirInstall true
ShowInstDetails show

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE LeaveDirectory
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro OLVEX_VERSION_BLOCK "Установка ${OLVEX_NAME}" "olvex-updater-${OLVEX_VERSION}-windows-x64-setup.exe"

; Lays out one folder, or one file, of the zip in $INSTDIR.
!macro OLVEX_INSTALL_FOLDER FOLDER
    CreateDirectory "$INSTDIR\${FOLDER}"
!macroend
!macro OLVEX_INSTALL_FILE FILE SOURCE
    File "/oname=${FILE}" "${OLVEX_STAGE}/${SOURCE}"
!macroend

Var previous ; the folder of the installed version, if there is one
Var refusal ; why the setup does not install into $INSTDIR, if it does not

; The setup installs only into a folder of its own: one it makes, an empty
; one, or the installed version's. Any other may hold another program's files
; under the names of ours (Qt5Core.dll): the setup would write over them and
; the uninstaller later delete them. A drive's root is never empty.
Function CheckFolder
    StrCpy $refusal ""
    !insertmacro OLVEX_SAME_FOLDER $INSTDIR $previous
    ${If} $same_folder == 1
        Return
    ${EndIf}
    ; Nothing is found in a folder that does not exist yet.
    FindFirst $0 $1 "$INSTDIR\*"
    ${DoWhile} $1 != ""
        ${If} $1 != "."
        ${AndIf} $1 != ".."
            StrCpy $refusal "Папка $INSTDIR не пуста, и прежней версии ${OLVEX_NAME} в ней нет. Выберите новую или пустую папку."
            ${ExitDo}
        ${EndIf}
        FindNext $0 $1
    ${Loop}
    FindClose $0
FunctionEnd

; In the window, another folder can be chosen at once.
Function LeaveDirectory
    Call CheckFolder
    ${If} $refusal != ""
        MessageBox MB_OK|MB_ICONSTOP $refusal
        Abort
    ${EndIf}
FunctionEnd

; The installed version goes first, through its own uninstaller, which knows
; its files. It refuses while its programs run, and so does this setup. It
; leaves itself and its folder to this setup (/UPGRADE), which writes over
; them, or removes them when it installs elsewhere (/D=).
Function RemovePrevious
    ${If} $previous == ""
    ${OrIfNot} ${FileExists} "$previous\${OLVEX_UNINSTALLER_NAME}"
        Return
    ${EndIf}
    DetailPrint "Удаление прежней версии из $previous"
    ClearErrors
    ExecWait '"$previous\${OLVEX_UNINSTALLER_NAME}" /S /UPGRADE' $0
    ${If} ${Errors}
    ${OrIf} $0 != 0
        !insertmacro OLVEX_FAIL "Прежнюю версию Olvex Updater не удалось удалить из папки $previous. Закройте Olvex Updater и olvex-cli и запустите установку снова."
    ${EndIf}
    !insertmacro OLVEX_SAME_FOLDER $previous $INSTDIR
    ${If} $same_folder != 1
        Delete "$previous\${OLVEX_UNINSTALLER_NAME}"
        RMDir "$previous"
    ${EndIf}
FunctionEnd

; The folder of the public keys trusted to sign firmware (ProgramData\Olvex
; Updater\keys), empty, which only administrators (and the system) may
; change; everyone may read it. Keys already in it stay. Without its
; permissions a user could put a key of their own there: the setup fails.
Function MakeKeyFolder
    CreateDirectory "${OLVEX_KEY_FOLDER}"
    nsExec::ExecToLog '"$SYSDIR\icacls.exe" "${OLVEX_KEY_PARENT}" /setowner *S-1-5-32-544 /T /C /Q'
    Pop $0
    ${If} $0 == 0
        nsExec::ExecToLog '"$SYSDIR\icacls.exe" "${OLVEX_KEY_PARENT}" /inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX /T /C /Q'
        Pop $0
    ${EndIf}
    ${If} $0 != 0
        !insertmacro OLVEX_FAIL "Папку ключей ${OLVEX_KEY_FOLDER} не удалось закрыть от изменений."
    ${EndIf}
FunctionEnd

Section "Olvex Updater" program
    SectionIn RO
    ; Before anything changes, the installed version included.
    Call CheckFolder
    ${If} $refusal != ""
        !insertmacro OLVEX_FAIL $refusal
    ${EndIf}
    Call RemovePrevious
    ; The uninstaller and its entry first: whatever lands after them can be
    ; removed again, even if the installation stops half-way.
    SetOutPath "$INSTDIR"
    File "/oname=${OLVEX_UNINSTALLER_NAME}" "${OLVEX_UNINSTALLER}"
    WriteRegStr HKLM "${OLVEX_UNINSTALL_KEY}" "DisplayName" "${OLVEX_NAME}"
    WriteRegStr HKLM "${OLVEX_UNINSTALL_KEY}" "DisplayVersion" "${OLVEX_VERSION}"
    WriteRegStr HKLM "${OLVEX_UNINSTALL_KEY}" "Publisher" "${OLVEX_PUBLISHER}"
    WriteRegStr HKLM "${OLVEX_UNINSTALL_KEY}" "URLInfoAbout" "${OLVEX_URL}"
    WriteRegStr HKLM "${OLVEX_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Olvex_Updater.exe,0"
    WriteRegStr HKLM "${OLVEX_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${OLVEX_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${OLVEX_UNINSTALLER_NAME}"'
    WriteRegStr HKLM "${OLVEX_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${OLVEX_UNINSTALLER_NAME}" /S'
    WriteRegDWORD HKLM "${OLVEX_UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${OLVEX_UNINSTALL_KEY}" "NoRepair" 1
    ; "Apps & features" shows the size of the files this section installs,
    ; in KiB, as makensis added them up.
    SectionGetSize ${program} $0
    WriteRegDWORD HKLM "${OLVEX_UNINSTALL_KEY}" "EstimatedSize" $0

    !insertmacro OLVEX_FOR_EACH_FOLDER OLVEX_INSTALL_FOLDER
    !insertmacro OLVEX_FOR_EACH_FILE OLVEX_INSTALL_FILE

    Call MakeKeyFolder

    ; The shortcuts start in the program's folder. The command prompt finds
    ; olvex-cli there and, through PATH for that prompt only, anywhere it
    ; goes; the machine's PATH stays as it is.
    CreateShortcut "${OLVEX_SHORTCUT}" "$INSTDIR\Olvex_Updater.exe" "" \
        "$INSTDIR\Olvex_Updater.exe" 0 SW_SHOWNORMAL "" "Поиск и прошивка устройств на линии RS-485"
    CreateShortcut "${OLVEX_PROMPT_SHORTCUT}" "$SYSDIR\cmd.exe" \
        '/k "set "PATH=$INSTDIR;%PATH%" && olvex-cli --version"' \
        "$INSTDIR\Olvex_Updater.exe" 0 SW_SHOWNORMAL "" "Командная строка с olvex-cli"
SectionEnd

Section /o "Ярлык на рабочем столе" desktop
    SetOutPath "$INSTDIR"
    CreateShortcut "${OLVEX_DESKTOP_SHORTCUT}" "$INSTDIR\Olvex_Updater.exe" "" \
        "$INSTDIR\Olvex_Updater.exe" 0 SW_SHOWNORMAL "" "Поиск и прошивка устройств на линии RS-485"
SectionEnd

Function .onInit
    !insertmacro OLVEX_INIT "Для установки Olvex Updater нужны права администратора."
    ReadRegStr $previous HKLM "${OLVEX_UNINSTALL_KEY}" "InstallLocation"
    ; An upgrade stays where the installed version is, unless told otherwise.
    ${If} $previous != ""
    ${AndIf} $INSTDIR == "$PROGRAMFILES64\Olvex Updater"
        StrCpy $INSTDIR $previous
    ${EndIf}
    ; The desktop shortcut: off, unless asked for or kept from before.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/DESKTOP" $1
    ${IfNot} ${Errors}
    ${OrIf} ${FileExists} "${OLVEX_DESKTOP_SHORTCUT}"
        SectionSetFlags ${desktop} ${SF_SELECTED}
    ${EndIf}
FunctionEnd
