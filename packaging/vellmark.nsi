; The Windows installer: Vellmark for the current user (no administrator rights needed) or,
; started as administrator, for all users, a Start-menu shortcut, an optional start at
; sign-in, and an uninstaller listed in Apps & features. Built by packaging/CMakeLists.txt,
; which passes
;   VERSION  the program's version ("5.0.36.126")
;   EXE      the built vellmark.exe
;   ICON     the program icon
;   OUTFILE  the setup program to write

!macro Require NAME
  !ifndef ${NAME}
    !error "makensis needs -D${NAME}=..."
  !endif
!macroend
!insertmacro Require VERSION
!insertmacro Require EXE
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

; Per user by default, even for an administrator; all users on request (/AllUsers, or the
; choice page an elevated setup shows). A later run finds the earlier install's mode and
; folder through its Apps & features entry.
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_INSTALLMODE_FUNCTION ChooseSignInDefault
!define MULTIUSER_INIT_TEXT_ALLUSERSNOTPOSSIBLE "Installing ${PRODUCT} for all users needs administrator rights. Start the setup with $\"Run as administrator$\" (or from a command prompt opened that way), or install it for yourself alone."
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTKEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "UninstallString"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTKEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include Sections.nsh
!include FileFunc.nsh

; MultiUser.nsh offers all users only at the level Highest, which would also have Windows
; elevate the setup of every administrator, and so whatever it starts. The setup runs with
; the rights it was started with instead: for all users, it is started elevated.
RequestExecutionLevel user

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\vellmark.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"
!define MUI_PAGE_CUSTOMFUNCTION_SHOW OfferStartUnlessElevated
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
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

; $0 = 1 when ROOT's sign-in entry starts the vellmark.exe in folder DIR, else 0.
!macro IsSignInOf ROOT DIR
  StrCpy $0 0
  ReadRegStr $9 ${ROOT} "${RUNKEY}" "${PRODUCT}"
  ${If} "${DIR}" != ""
  ${AndIf} $9 == '"${DIR}\vellmark.exe"'
    StrCpy $0 1
  ${EndIf}
!macroend

; Takes ROOT's sign-in entry away when it starts the vellmark.exe in folder DIR, and only
; then: an entry of that name may as well start a copy of the user's own.
!macro ForgetSignIn ROOT DIR
  !insertmacro IsSignInOf ${ROOT} "${DIR}"
  ${If} $0 = 1
    ClearErrors
    DeleteRegValue ${ROOT} "${RUNKEY}" "${PRODUCT}"
    !insertmacro StopOnError "remove ${PRODUCT} from the programs started at sign-in"
  ${EndIf}
!macroend

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

; An all-users install is removed with administrator rights, which Apps & features does not
; give the uninstaller it starts: so it asks Windows for them, and ends here.
Function un.onInit
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/AllUsers" $1
  ${IfNot} ${Errors}
    UserInfo::GetAccountType
    Pop $1
    ${If} $1 != "Admin"
      ExecShell "runas" "$INSTDIR\uninstall.exe" $0
      Quit
    ${EndIf}
  ${EndIf}
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; An elevated setup (an administrator's full rights, or another account's) would start
; Vellmark with those rights, and with them every command it runs on an alert; so it
; offers the start only when it runs with its user's own rights.
Function OfferStartUnlessElevated
  ; TOKEN_QUERY 8; TokenElevationType 18, whose value 2 (TokenElevationTypeFull) marks
  ; a token elevated above the one its user signed in with.
  System::Call 'advapi32::OpenProcessToken(p -1, i 8, *p .r1) i .r0'
  ${If} $0 = 0
    Return
  ${EndIf}
  System::Call 'advapi32::GetTokenInformation(p r1, i 18, *i .r2, i 4, *i .r3) i .r0'
  System::Call 'kernel32::CloseHandle(p r1)'
  ${If} $0 <> 0
  ${AndIf} $2 = 2
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
  WriteRegStr SHCTX "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTKEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTKEY}" "NoRepair" 1
  WriteRegDWORD SHCTX "${UNINSTKEY}" "EstimatedSize" $0
  !insertmacro StopOnError "register ${PRODUCT} in Apps & features"
SectionEnd

; For all users this starts Vellmark at every user's sign-in, each with their own settings.
; One Vellmark per sign-in, else every alert comes twice: the entry for all users stands
; in for this user's own install's.
Section "Start ${PRODUCT} when signing in to Windows" SecSignIn
  ${If} $MultiUser.InstallMode == AllUsers
    ReadRegStr $1 HKCU "${UNINSTKEY}" "InstallLocation"
    !insertmacro ForgetSignIn HKCU $1
  ${Else}
    ReadRegStr $1 HKLM "${UNINSTKEY}" "InstallLocation"
    !insertmacro IsSignInOf HKLM $1
    ${If} $0 = 1
      DetailPrint "${PRODUCT} installed for all users starts at sign-in already."
      !insertmacro ForgetSignIn HKCU $INSTDIR
      Return
    ${EndIf}
  ${EndIf}
  ClearErrors
  WriteRegStr SHCTX "${RUNKEY}" "${PRODUCT}" '"$INSTDIR\vellmark.exe"'
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
  ${AndIf} $MultiUser.InstallMode == CurrentUser
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
