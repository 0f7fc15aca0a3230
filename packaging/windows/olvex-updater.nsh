; What the setup program (setup.nsi) and its uninstaller (uninstall.nsi)
; share: the target, the names, the places, the version block, the checks
; both make first and how they tell one folder from another. MakeSetup.cmake
; builds both and passes on makensis's command line:
;   OLVEX_VERSION       the version of project(), 1.0.0
;   OLVEX_VERSION_QUAD  the same in four numbers for the version block, 1.0.0.0
;   OLVEX_PUBLISHER     Ruvo
;   OLVEX_URL           the product's page
;   OLVEX_FILES         files.nsh: the files the zip holds, listed from its folder
;   OLVEX_ICON          the tool's icon (app/icons/ruvo_olvex.ico)
;   OLVEX_OUT           the program to write
; and, for the setup program only, OLVEX_STAGE (the zip's folder, laid out)
; and OLVEX_UNINSTALLER (uninstall.exe, built and signed before it).

; The programs are 64-bit; so are the setup program and the uninstaller, so
; that "Program Files" and the registry are the 64-bit ones without redirection.
Target amd64-unicode
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include "${OLVEX_FILES}"

!define OLVEX_NAME "Olvex Updater"
!define OLVEX_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Olvex Updater"
!define OLVEX_UNINSTALLER_NAME "uninstall.exe"
; For the whole machine: the Start menu and the desktop of all users.
!define OLVEX_SHORTCUT "$SMPROGRAMS\Olvex Updater.lnk"
!define OLVEX_PROMPT_SHORTCUT "$SMPROGRAMS\Olvex Updater — командная строка.lnk"
!define OLVEX_DESKTOP_SHORTCUT "$DESKTOP\Olvex Updater.lnk"
; The public keys trusted to sign firmware, for the whole machine; the
; programs look for them there (protocol/keyfolder_win.cpp).
!define OLVEX_KEY_PARENT "$APPDATA\Olvex Updater"
!define OLVEX_KEY_FOLDER "${OLVEX_KEY_PARENT}\keys"

Name "${OLVEX_NAME}"
BrandingText "${OLVEX_NAME} ${OLVEX_VERSION}"
!define MUI_ICON "${OLVEX_ICON}"
; A file that cannot be written ends the run (exit status 2) instead of being
; skipped, so that a broken installation never reports success.
AllowSkipFiles off

; The version block Explorer shows in the file's properties. After the
; language, whose number it names.
!macro OLVEX_VERSION_BLOCK DESCRIPTION ORIGINAL_NAME
    VIProductVersion ${OLVEX_VERSION_QUAD}
    VIFileVersion ${OLVEX_VERSION_QUAD}
    VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductName" "${OLVEX_NAME}"
    VIAddVersionKey /LANG=${LANG_RUSSIAN} "ProductVersion" "${OLVEX_VERSION}"
    VIAddVersionKey /LANG=${LANG_RUSSIAN} "CompanyName" "${OLVEX_PUBLISHER}"
    VIAddVersionKey /LANG=${LANG_RUSSIAN} "LegalCopyright" "© ${OLVEX_PUBLISHER}"
    VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileDescription" "${DESCRIPTION}"
    VIAddVersionKey /LANG=${LANG_RUSSIAN} "FileVersion" "${OLVEX_VERSION}"
    VIAddVersionKey /LANG=${LANG_RUSSIAN} "OriginalFilename" "${ORIGINAL_NAME}"
!macroend

; Ends the run with exit status 2 (failure) after telling why; a silent run
; shows nothing and only the status tells. In .onInit the program ends; in a
; section the run stops there and its page says so.
!macro OLVEX_FAIL TEXT
    DetailPrint "${TEXT}"
    MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
    SetErrorLevel 2
    Abort
!macroend

; What both do first: the places of all users, and administrator rights
; (the manifest asks Windows for them; a run without them stops here).
!macro OLVEX_INIT TEXT_NO_ADMIN
    SetShellVarContext all
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
        !insertmacro OLVEX_FAIL "${TEXT_NO_ADMIN}"
    ${EndIf}
!macroend

; Whether two names are of one folder, in $same_folder ("1" or ""): Windows
; takes a folder's name in any case and in the short form of its parts
; (C:\PROGRA~1\OLVEXU~1). An empty name (no entry) is no folder.
Var folder_a
Var folder_b
Var same_folder
!macro OLVEX_SAME_FOLDER A B
    StrCpy $folder_a "${A}"
    StrCpy $folder_b "${B}"
    Call SameFolder
!macroend
Function SameFolder
    StrCpy $same_folder ""
    ${If} $folder_a == ""
    ${OrIf} $folder_b == ""
        Return
    ${EndIf}
    ${If} $folder_a != $folder_b
        ; Empty when the folder does not exist.
        GetFullPathName /SHORT $folder_a $folder_a
        GetFullPathName /SHORT $folder_b $folder_b
        ${If} $folder_a == ""
        ${OrIf} $folder_a != $folder_b
            Return
        ${EndIf}
    ${EndIf}
    StrCpy $same_folder 1
FunctionEnd
