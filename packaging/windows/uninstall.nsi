; The uninstaller, uninstall.exe in the installed folder: removes the files
; the setup program installed (and none other), the folders they were in
; once they are empty, the key folder if no key is left in it, the shortcuts
; and the entry of "Apps & features".
; It acts only in the folder that entry names: a copy of it anywhere else
; removes nothing (it would take that folder's files of the same names, and
; then the entry of the installation it did not remove) and fails.
;
;   uninstall.exe             asks, shows its progress
;   uninstall.exe /S          silent; exit status 0 removed, 2 failed
;
; It is built as a program of its own rather than as NSIS's own kind of
; uninstaller: that kind starts a copy of itself from the temporary folder
; and ends at once with status 0, so a script that runs it could neither wait
; for it nor learn whether it failed. This one does the work itself, runs to
; its end and says. While Olvex Updater or olvex-cli runs from the folder it
; removes nothing and fails; when files remain it keeps its entry, so that it
; can be run again.
;
; Windows does not let a running program delete its own file, so the last
; step is left to a copy in the temporary folder, started with
; /TAIL="<folder>": it deletes uninstall.exe as soon as the uninstaller has
; ended (within a tenth of a second), then the folder if it is empty; Windows
; deletes the copy itself at the next start, as with NSIS's own uninstallers.
; The setup program of a new version runs this one with /UPGRADE: then
; uninstall.exe and its folder stay for the setup, which writes its own over
; them or removes them.
;
; Built by MakeSetup.cmake (see olvex-updater.nsh for what it passes).

!include "olvex-updater.nsh"

OutFile "${OLVEX_OUT}"
SetCompressor zlib
Caption "Удаление ${OLVEX_NAME}"
ShowInstDetails show

!define MUI_PAGE_HEADER_TEXT "Удаление ${OLVEX_NAME}"
!define MUI_PAGE_HEADER_SUBTEXT "Удаляются файлы, ярлыки и запись о программе."
!define MUI_INSTFILESPAGE_FINISHHEADER_TEXT "Удаление завершено"
!define MUI_INSTFILESPAGE_FINISHHEADER_SUBTEXT "${OLVEX_NAME} удалён с компьютера."
!define MUI_INSTFILESPAGE_ABORTHEADER_TEXT "Удаление не завершено"
!define MUI_INSTFILESPAGE_ABORTHEADER_SUBTEXT "${OLVEX_NAME} удалён не полностью."
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro OLVEX_VERSION_BLOCK "Удаление ${OLVEX_NAME}" "${OLVEX_UNINSTALLER_NAME}"

Var busy ; a file of ours that a running program holds

; A program that runs holds its file: it cannot be opened for writing.
!macro OLVEX_CHECK_FREE FILE SOURCE
    ${If} ${FileExists} "$INSTDIR\${FILE}"
        ClearErrors
        FileOpen $0 "$INSTDIR\${FILE}" a
        ${If} ${Errors}
            StrCpy $busy "${FILE}"
        ${Else}
            FileClose $0
        ${EndIf}
    ${EndIf}
!macroend
!macro OLVEX_REMOVE_FILE FILE SOURCE
    Delete "$INSTDIR\${FILE}"
!macroend
!macro OLVEX_REMOVE_FOLDER FOLDER
    RMDir "$INSTDIR\${FOLDER}"
!macroend

; The last step, in the copy: uninstall.exe goes once the uninstaller that
; started the copy has ended and let go of it (it ends right after starting
; the copy; half a minute at most), then the folder, if nothing else is in it.
Function Tail
    Pop $1
    ${For} $2 1 300
        Delete "$1\${OLVEX_UNINSTALLER_NAME}"
        ${IfNot} ${FileExists} "$1\${OLVEX_UNINSTALLER_NAME}"
            ${Break}
        ${EndIf}
        Sleep 100
    ${Next}
    RMDir "$1"
    Delete /REBOOTOK "$EXEPATH"
    SetRebootFlag false
FunctionEnd

Function .onInit
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/TAIL=" $0
    ${IfNot} ${Errors}
        Push $0
        Call Tail
        Quit
    ${EndIf}
    !insertmacro OLVEX_INIT "Для удаления Olvex Updater нужны права администратора."
    ReadRegStr $0 HKLM "${OLVEX_UNINSTALL_KEY}" "InstallLocation"
    !insertmacro OLVEX_SAME_FOLDER $EXEDIR $0
    ${If} $same_folder != 1
        !insertmacro OLVEX_FAIL "В папке $EXEDIR нет установленного ${OLVEX_NAME}: ничего не удалено."
    ${EndIf}
    StrCpy $INSTDIR $EXEDIR
    MessageBox MB_YESNO|MB_ICONQUESTION "Удалить ${OLVEX_NAME} из папки $INSTDIR?" /SD IDYES IDYES +3
        SetErrorLevel 1
        Quit
FunctionEnd

Section
    StrCpy $busy ""
    !insertmacro OLVEX_FOR_EACH_FILE OLVEX_CHECK_FREE
    ${If} $busy != ""
        !insertmacro OLVEX_FAIL "${OLVEX_NAME} не удалён: $busy занят. Закройте Olvex Updater и olvex-cli и повторите удаление."
    ${EndIf}

    Delete "${OLVEX_SHORTCUT}"
    Delete "${OLVEX_PROMPT_SHORTCUT}"
    Delete "${OLVEX_DESKTOP_SHORTCUT}"
    SetOutPath "$TEMP" ; a process's working folder cannot be removed
    ClearErrors
    !insertmacro OLVEX_FOR_EACH_FILE OLVEX_REMOVE_FILE
    ${If} ${Errors}
        !insertmacro OLVEX_FAIL "${OLVEX_NAME} удалён не полностью: не все файлы в папке $INSTDIR удалось удалить."
    ${EndIf}
    !insertmacro OLVEX_FOR_EACH_FOLDER_DEEPEST_FIRST OLVEX_REMOVE_FOLDER
    ; The key folder only when no key is left in it.
    RMDir "${OLVEX_KEY_FOLDER}"
    RMDir "${OLVEX_KEY_PARENT}"
    DeleteRegKey HKLM "${OLVEX_UNINSTALL_KEY}"
SectionEnd

; The last step goes to the copy once the removal has succeeded, when the
; uninstaller is about to end: silent, at once; otherwise when its window
; closes.
Function .onInstSuccess
    ${GetParameters} $R0
    ClearErrors
    ${GetOptions} $R0 "/UPGRADE" $0
    ${IfNot} ${Errors}
        Return
    ${EndIf}
    GetTempFileName $0
    Delete "$0"
    StrCpy $0 "$0.exe"
    ; Without the copy, uninstall.exe stays: deleting it at the next start
    ; instead could take a newer one installed before then.
    CopyFiles /SILENT "$EXEPATH" "$0"
    Exec '"$0" /S /TAIL="$INSTDIR"'
FunctionEnd
