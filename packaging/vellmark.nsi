; The Windows installer: Vellmark for the current user (no administrator rights needed) or,
; started as administrator, for all users, a Start-menu shortcut, an optional start at
; sign-in, and an uninstaller listed in Apps & features. Built by packaging/CMakeLists.txt,
; which passes
;   VERSION  the program's version ("5.0.36.126")
;   EXE      the built vellmark.exe
;   SIGNIN   the built vellmark-signin.exe, which the all-users sign-in entry starts
;   ICON     the program icon
;   OUTFILE  the setup program to write

!macro Require NAME
  !ifndef ${NAME}
    !error "makensis needs -D${NAME}=..."
  !endif
!macroend
!insertmacro Require VERSION
!insertmacro Require EXE
!insertmacro Require SIGNIN
!insertmacro Require ICON
!insertmacro Require OUTFILE

; The program is 64-bit, so the installer is too: it then sees the real registry and
; Program Files rather than their 32-bit views.
Target amd64-unicode
SetCompressor /SOLID lzma
; A file that cannot be written must stop the install, never be skipped quietly.
AllowSkipFiles off

!define PRODUCT "Vellmark"
!define PUBLISHER "Tolvane"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellmark"
!define RUNKEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SETTINGSKEY "SoftWare\Tolvane\Vellmark"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey FileDescription "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey LegalCopyright "${PUBLISHER}"

!include MUI2.nsh
!include LogicLib.nsh
!include Sections.nsh
!include FileFunc.nsh

; Whom the setup installs for follows from its rights alone. Windows starts it with its
; user's own rights, so it installs for that user. Started elevated, it installs for all
; users, and then neither reads nor writes HKCU: a standard user who elevates with an
; administrator's password gets the administrator's HKCU, and that account is not the
; one being served. Elevated means the token's elevation, not its elevation type, which
; is "default" with UAC off and for the built-in Administrator, both full rights.
;
; So the two installs' sign-in entries are independent: each install writes and removes
; only its own, a user's install in HKCU and the all-users one in HKLM, which can reach
; no other user's HKCU. The all-users entry starts vellmark-signin.exe, which starts the
; all-users Vellmark only for a user who has saved settings and whose own HKCU entry, if
; any, names no program that exists: whichever of the two installs is added or removed,
; in whatever order, a user who asked for a start at sign-in gets one Vellmark.
RequestExecutionLevel user
Var Scope      ; AllUsers or CurrentUser, also the uninstaller's option
Var Elevated   ; 1 or 0

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\vellmark.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_PAGE_CUSTOMFUNCTION_SHOW OfferStartUnlessElevated
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!define MUI_PAGE_CUSTOMFUNCTION_PRE un.SkipChoiceForAllUsers
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE English

; Ends the install or uninstall when the step just taken set the error flag, saying which
; step failed; a silent run ends with exit code 2.
!macro StopOnError WHAT
  ${If} ${Errors}
    DetailPrint "Could not ${WHAT}."
    MessageBox MB_OK|MB_ICONSTOP "Could not ${WHAT}." /SD IDOK
    Abort "Could not ${WHAT}."
  ${EndIf}
!macroend

; A running Vellmark holds its program file open, so it must be ended first. Its one
; window is the dialog, titled by whether it is monitoring, shown or hidden in the tray.
!macro WaitUntilNotRunning UN
  Function ${UN}WaitUntilNotRunning
    ${Do}
      FindWindow $0 "#32770" "${PRODUCT} - Inactive"
      ${If} $0 = 0
        FindWindow $0 "#32770" "${PRODUCT} - Active"
      ${EndIf}
      ${If} $0 = 0
        Return
      ${EndIf}
      ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "${PRODUCT} is running. End it with its Exit button or the Exit command of its tray icon, then press Retry." /SD IDCANCEL IDCANCEL`
        DetailPrint "${PRODUCT} is running; end it and try again."
        Abort "${PRODUCT} is running; end it and try again."
      ${EndIf}
    ${Loop}
  FunctionEnd
!macroend
!insertmacro WaitUntilNotRunning ""
!insertmacro WaitUntilNotRunning "un."

; $0 = 1 when ROOT's sign-in entry starts the Vellmark in folder DIR, else 0: through
; vellmark-signin.exe, or directly, as each user's install and earlier all-users ones do.
!macro IsSignInOf ROOT DIR
  StrCpy $0 0
  ReadRegStr $9 ${ROOT} "${RUNKEY}" "${PRODUCT}"
  ${If} "${DIR}" != ""
    ${If} $9 == '"${DIR}\vellmark.exe"'
    ${OrIf} $9 == '"${DIR}\vellmark-signin.exe"'
      StrCpy $0 1
    ${EndIf}
  ${EndIf}
!macroend

; $0 = 1 when the process's token is elevated (TokenElevation, class 20), else 0. A token
; that cannot be asked counts as elevated, so that its HKCU is left alone.
!macro IsElevated
  StrCpy $0 1
  ; TOKEN_QUERY 8
  System::Call 'advapi32::OpenProcessToken(p -1, i 8, *p .r1) i .r2'
  ${If} $2 <> 0
    System::Call 'advapi32::GetTokenInformation(p r1, i 20, *i .r3, i 4, *i .r4) i .r2'
    System::Call 'kernel32::CloseHandle(p r1)'
    ${If} $2 <> 0
    ${AndIf} $3 = 0
      StrCpy $0 0
    ${EndIf}
  ${EndIf}
!macroend

; Ends a setup or uninstaller that was started for the scope its rights do not serve;
; a silent run ends with exit code 2.
!macro RefuseScope TEXT
  MessageBox MB_OK|MB_ICONSTOP "${TEXT}" /SD IDOK
  SetErrorLevel 2
  Quit
!macroend

; Takes ROOT's sign-in entry away when it starts the Vellmark in folder DIR, and only
; then: an entry of that name may as well start a copy of the user's own.
!macro ForgetSignIn ROOT DIR
  !insertmacro IsSignInOf ${ROOT} "${DIR}"
  ${If} $0 = 1
    ClearErrors
    DeleteRegValue ${ROOT} "${RUNKEY}" "${PRODUCT}"
    !insertmacro StopOnError "remove ${PRODUCT} from the programs started at sign-in"
  ${EndIf}
!macroend

; A later run finds the folder of the earlier install of its scope through that scope's
; Apps & features entry.
Function .onInit
  !insertmacro IsElevated
  StrCpy $Elevated $0
  ${GetParameters} $1
  ClearErrors
  ${If} $Elevated = 1
    ${GetOptions} $1 "/CurrentUser" $2
    ${IfNot} ${Errors}
      !insertmacro RefuseScope "Started as administrator, the setup installs ${PRODUCT} for all users. To install it for yourself alone, start the setup without $\"Run as administrator$\"."
    ${EndIf}
    StrCpy $Scope AllUsers
    SetShellVarContext all
    ReadRegStr $INSTDIR HKLM "${UNINSTKEY}" "InstallLocation"
    ${If} $INSTDIR == ""
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${EndIf}
  ${Else}
    ${GetOptions} $1 "/AllUsers" $2
    ${IfNot} ${Errors}
      !insertmacro RefuseScope "Installing ${PRODUCT} for all users needs administrator rights. Start the setup with $\"Run as administrator$\" (or from a command prompt opened that way), or install it for yourself alone."
    ${EndIf}
    StrCpy $Scope CurrentUser
    SetShellVarContext current
    ReadRegStr $INSTDIR HKCU "${UNINSTKEY}" "InstallLocation"
    ${If} $INSTDIR == ""
      ; FOLDERID_UserProgramFiles, which Windows 7 may not have set up yet
      GetKnownFolderPath $INSTDIR {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}
      ${If} $INSTDIR == ""
        StrCpy $INSTDIR "$LOCALAPPDATA\Programs"
      ${EndIf}
      StrCpy $INSTDIR "$INSTDIR\${PRODUCT}"
    ${EndIf}
  ${EndIf}
  Call ChooseSignInDefault
FunctionEnd

; An elevated setup would start Vellmark with full rights, and with them every command it
; runs on an alert; so it offers the start only when it runs with its user's own rights.
Function OfferStartUnlessElevated
  ${If} $Elevated = 1
    SendMessage $mui.FinishPage.Run ${BM_SETCHECK} ${BST_UNCHECKED} 0
    ShowWindow $mui.FinishPage.Run ${SW_HIDE}
  ${EndIf}
FunctionEnd

Section "${PRODUCT}" SecProgram
  SectionIn RO
  Call WaitUntilNotRunning

  ClearErrors
  SetOutPath "$INSTDIR"
  !insertmacro StopOnError "create the folder $INSTDIR"
  File "/oname=vellmark.exe" "${EXE}"
  ${If} $Scope == AllUsers
    File "/oname=vellmark-signin.exe" "${SIGNIN}"
  ${EndIf}
  ClearErrors
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro StopOnError "write $INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\vellmark.exe"
  !insertmacro StopOnError "create the Start-menu shortcut $SMPROGRAMS\${PRODUCT}.lnk"

  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  ClearErrors
  WriteRegStr SHCTX "${UNINSTKEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTKEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\vellmark.exe,0"
  WriteRegStr SHCTX "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$Scope'
  WriteRegStr SHCTX "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$Scope /S'
  WriteRegDWORD SHCTX "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTKEY}" "NoRepair" 1
  WriteRegDWORD SHCTX "${UNINSTKEY}" "EstimatedSize" $0
  !insertmacro StopOnError "register ${PRODUCT} in Apps & features"
SectionEnd

; For all users this starts Vellmark at the sign-in of every user who has saved settings
; and no start of their own, each with their own settings.
Section "Start ${PRODUCT} when signing in to Windows" SecSignIn
  ${If} $Scope == AllUsers
    StrCpy $1 "$INSTDIR\vellmark-signin.exe"
  ${Else}
    StrCpy $1 "$INSTDIR\vellmark.exe"
  ${EndIf}
  ClearErrors
  WriteRegStr SHCTX "${RUNKEY}" "${PRODUCT}" '"$1"'
  !insertmacro StopOnError "add ${PRODUCT} to the programs started at sign-in"
SectionEnd

; Installing again without the sign-in start takes back an earlier install's entry.
Section "-Forget the sign-in start"
  ${IfNot} ${SectionIsSelected} ${SecSignIn}
    !insertmacro ForgetSignIn SHCTX $INSTDIR
  ${EndIf}
SectionEnd

; Started at sign-in before its user has saved settings, Vellmark greets every sign-in with
; a first run's "Failed to get ..." boxes. So the start is ticked when an earlier install
; here starts already (its choice stands), or when a user installs for themselves once
; their settings exist (a save writes these three); else unticked, as for all users, whose
; settings the setup cannot see. /SignIn ticks it in any case.
Function ChooseSignInDefault
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/SignIn" $2
  ${IfNot} ${Errors}
    StrCpy $0 1
  ${Else}
    !insertmacro IsSignInOf SHCTX $INSTDIR
  ${EndIf}
  ${If} $0 = 0
  ${AndIf} $Scope == CurrentUser
    ClearErrors
    ReadRegDWORD $1 HKCU "${SETTINGSKEY}" "Warning"
    ReadRegDWORD $1 HKCU "${SETTINGSKEY}" "Seconds"
    ReadRegDWORD $1 HKCU "${SETTINGSKEY}" "TimeType"
    ${IfNot} ${Errors}
      StrCpy $0 1
    ${EndIf}
  ${EndIf}
  ${If} $0 = 1
    !insertmacro SelectSection ${SecSignIn}
  ${Else}
    !insertmacro UnselectSection ${SecSignIn}
  ${EndIf}
FunctionEnd

; The uninstaller takes away exactly what the installer made, and removes the settings
; only when asked (never in a silent uninstall). It deletes files by name, never the
; folder with its contents: the folder may have been chosen by the user and hold more.
Section "un.${PRODUCT}" UnSecProgram
  SectionIn RO
  Call un.WaitUntilNotRunning

  ClearErrors
  Delete "$INSTDIR\vellmark.exe"
  !insertmacro StopOnError "remove $INSTDIR\vellmark.exe (is ${PRODUCT} still running?)"
  Delete "$INSTDIR\vellmark-signin.exe"
  !insertmacro StopOnError "remove $INSTDIR\vellmark-signin.exe"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  !insertmacro StopOnError "remove the Start-menu shortcut $SMPROGRAMS\${PRODUCT}.lnk"
  !insertmacro ForgetSignIn SHCTX $INSTDIR
SectionEnd

Section /o "un.Remove my ${PRODUCT} settings" UnSecSettings
  ClearErrors
  EnumRegKey $0 HKCU "${SETTINGSKEY}" 0
  ${IfNot} ${Errors}
    DeleteRegKey HKCU "${SETTINGSKEY}"
    !insertmacro StopOnError "remove the settings HKEY_CURRENT_USER\${SETTINGSKEY}"
    DeleteRegKey /ifempty HKCU "SoftWare\Tolvane"
  ${EndIf}
  ClearErrors
SectionEnd

Section "-un.Unregister"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; The Apps & features entry goes last, so that an uninstall that failed before can be
  ; run again from there.
  ClearErrors
  DeleteRegKey SHCTX "${UNINSTKEY}"
  !insertmacro StopOnError "remove ${PRODUCT} from Apps & features"
SectionEnd

; An all-users install is removed with administrator rights, which Apps & features does not
; give the uninstaller it starts: so it asks Windows for them, and ends here. A user's
; install is removed only where HKCU is that user's, which its Apps & features entry
; naming this folder shows; an uninstaller elevated with another account's password
; would otherwise take that account's entries and settings.
Function un.onInit
  !insertmacro IsElevated
  StrCpy $Elevated $0
  ${un.GetParameters} $1
  ClearErrors
  ${un.GetOptions} $1 "/AllUsers" $2
  ${If} ${Errors}
    StrCpy $Scope CurrentUser
    SetShellVarContext current
    ReadRegStr $2 HKCU "${UNINSTKEY}" "InstallLocation"
    ${If} $2 != $INSTDIR
      !insertmacro RefuseScope "This ${PRODUCT} in $INSTDIR was installed by another account, or is no longer registered: remove it while signed in as the user who installed it."
    ${EndIf}
  ${Else}
    ${If} $Elevated = 0
      ExecShell "runas" "$INSTDIR\uninstall.exe" $1
      Quit
    ${EndIf}
    StrCpy $Scope AllUsers
    SetShellVarContext all
  ${EndIf}
FunctionEnd

; Removing the settings is offered only with a user's own install: an elevated all-users
; uninstaller's HKCU may be an administrator's, whose settings nobody asked to remove.
Function un.SkipChoiceForAllUsers
  ${If} $Scope == AllUsers
    Abort
  ${EndIf}
FunctionEnd
