; The Windows installer of the Outlook add-in. It holds the 32-bit and the
; 64-bit skerrow.dll and the help file, installs the DLL that matches the
; installed Outlook and registers it with regsvr32.
;   makensis -DVERSION=1.3 -DDLL32=x86/skerrow.dll -DDLL64=x64/skerrow.dll \
;            -DHELP=skerrow.chm -DOUTFILE=skerrow-setup-1.3.exe skerrow.nsi
; By default it installs for the current user, without administrator
; rights; /ALLUSERS installs under Program Files and registers the add-in
; for the whole machine (as an administrator). /S runs it silently.
Unicode true

!ifndef VERSION | DLL32 | DLL64 | HELP | OUTFILE
  !error "define VERSION, DLL32, DLL64, HELP and OUTFILE (makensis -DNAME=value)"
!endif

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include MUI2.nsh

!define PRODUCT "Skerrow"
!define PUBLISHER "Corvalle"
; The add-in's own settings: the installer writes only AppPath there.
!define SETTINGS_KEY "Software\Corvalle\Addins\Skerrow"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Skerrow"
; The class of Outlook's main window, there while Outlook runs.
!define OUTLOOK_WINDOW "rctrl_renwnd32"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
SetCompressor /SOLID lzma
BrandingText "${PUBLISHER} ${PRODUCT} ${VERSION}"
ManifestDPIAware true

Var AllUsers ; 1 for a machine-wide installation
Var DllBits  ; 32 or 64: the bitness of the installed Outlook

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "${PRODUCT} ${VERSION} is installed. Outlook loads it when it next starts: if Outlook is running, restart it."
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "${PRODUCT} has been removed"
!define MUI_FINISHPAGE_TEXT "${PRODUCT} has been removed from this computer.$\r$\n$\r$\nYour friends list and blacklist, their backups and your settings are kept: installing ${PRODUCT} again finds them."
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

; regsvr32 of the given bitness: a DLL loads only into a process of its own.
; A 32-bit installer reaches the 64-bit System32 only with the file system
; redirection off.
!macro Regsvr32 BITS ARGUMENTS RESULT
  StrCpy ${RESULT} "not started"
  ${If} ${BITS} == 64
    ${DisableX64FSRedirection}
    ExecWait '"$SYSDIR\regsvr32.exe" ${ARGUMENTS}' ${RESULT}
    ${EnableX64FSRedirection}
  ${Else}
    ExecWait '"$SYSDIR\regsvr32.exe" ${ARGUMENTS}' ${RESULT}
  ${EndIf}
!macroend

; Unregisters the installed DLL in the bitness the list of programs records
; for it; without a record, in both (the other regsvr32 cannot load it).
!macro UnregisterDll
  ${If} ${FileExists} "$INSTDIR\skerrow.dll"
    ${If} $AllUsers == 1
      StrCpy $R1 '/s /u /n /i:machine "$INSTDIR\skerrow.dll"'
    ${Else}
      StrCpy $R1 '/s /u "$INSTDIR\skerrow.dll"'
    ${EndIf}
    ReadRegStr $R2 SHCTX "${UNINSTALL_KEY}" "Bitness"
    ${If} $R2 != 64
      !insertmacro Regsvr32 32 $R1 $R0
    ${EndIf}
    ${If} $R2 != 32
    ${AndIf} ${RunningX64}
      !insertmacro Regsvr32 64 $R1 $R0
    ${EndIf}
  ${EndIf}
!macroend

; /ALLUSERS needs an administrator; without one the installer stops with
; ERROR_ELEVATION_REQUIRED.
!macro ChooseAllUsers
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP "Installing or removing ${PRODUCT} for all users needs administrator rights: run it as an administrator." /SD IDOK
    SetErrorLevel 740
    Quit
  ${EndIf}
  StrCpy $AllUsers 1
  SetShellVarContext all
!macroend

Function .onInit
  StrCpy $AllUsers 0
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/ALLUSERS" $1
  ${IfNot} ${Errors}
    !insertmacro ChooseAllUsers
  ${EndIf}
  Call DetectBitness
  ; An earlier installation is upgraded where it is; /D= names another folder.
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $INSTDIR == ""
  ${AndIf} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
  ${If} $INSTDIR == ""
    ${If} $AllUsers == 0
      StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
    ${ElseIf} $DllBits == 64
      StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES32\${PRODUCT}"
    ${EndIf}
  ${EndIf}
FunctionEnd

; Outlook 2010 and later write their bitness ("x86" or "x64") as Bitness
; under their Outlook key, in the 64-bit view of the registry; Click-to-Run
; installations in their virtual registry. Older Outlooks are 32-bit.
Function DetectBitness
  StrCpy $DllBits 32
  ${IfNot} ${RunningX64}
    Return
  ${EndIf}
  SetRegView 64
  StrCpy $1 ""
  ${ForEach} $2 16 14 - 1
    ${If} $1 == ""
      ReadRegStr $1 HKLM "Software\Microsoft\Office\$2.0\Outlook" "Bitness"
    ${EndIf}
  ${Next}
  ${If} $1 == ""
    ReadRegStr $1 HKLM "Software\Microsoft\Office\ClickToRun\REGISTRY\MACHINE\Software\Microsoft\Office\16.0\Outlook" "Bitness"
  ${EndIf}
  SetRegView lastused
  ${If} $1 == "x64"
    StrCpy $DllBits 64
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  SetOutPath "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\skerrow.dll"
    !insertmacro UnregisterDll
    ; A DLL that Outlook holds cannot be replaced, but it can be renamed.
    Delete "$INSTDIR\skerrow.dll.old"
    Rename "$INSTDIR\skerrow.dll" "$INSTDIR\skerrow.dll.old"
  ${EndIf}
  ${If} $DllBits == 64
    File "/oname=skerrow.dll" "${DLL64}"
  ${Else}
    File "/oname=skerrow.dll" "${DLL32}"
  ${EndIf}
  ; Stays while Outlook still holds it; the next run or the uninstaller removes it.
  Delete "$INSTDIR\skerrow.dll.old"
  File "/oname=skerrow.chm" "${HELP}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The help file's folder, with its backslash: the add-in appends the name.
  WriteRegStr HKCU "${SETTINGS_KEY}" "AppPath" "$INSTDIR\"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Bitness" "$DllBits"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} $AllUsers == 1
    StrCpy $R1 '/s /n /i:machine "$INSTDIR\skerrow.dll"'
  ${Else}
    StrCpy $R1 '/s "$INSTDIR\skerrow.dll"'
  ${EndIf}
  !insertmacro Regsvr32 $DllBits $R1 $R0
  ${If} $R0 != 0
    DetailPrint "regsvr32 failed: $R0"
    MessageBox MB_ICONEXCLAMATION "${PRODUCT} could not be registered with Outlook (regsvr32: $R0). Run the installer again, or remove ${PRODUCT} from the list of programs." /SD IDOK
    SetErrorLevel 2
  ${EndIf}

  FindWindow $0 "${OUTLOOK_WINDOW}"
  ${If} $0 <> 0
    MessageBox MB_ICONINFORMATION "Outlook is running: restart Outlook to load ${PRODUCT} ${VERSION}." /SD IDOK
  ${EndIf}
SectionEnd

Function un.onInit
  StrCpy $AllUsers 0
  ; A machine-wide installation is the one the machine's list of programs names.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == $INSTDIR
    !insertmacro ChooseAllUsers
  ${EndIf}
FunctionEnd

Section "Uninstall"
  FindWindow $0 "${OUTLOOK_WINDOW}"
  ${If} $0 <> 0
    MessageBox MB_ICONINFORMATION "Outlook is running: close it, so that ${PRODUCT} can be removed whole." /SD IDOK
  ${EndIf}
  !insertmacro UnregisterDll
  Delete /REBOOTOK "$INSTDIR\skerrow.dll"
  Delete /REBOOTOK "$INSTDIR\skerrow.dll.old"
  Delete "$INSTDIR\skerrow.chm"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"

  ; The lists, their backups and the add-in's other settings stay.
  DeleteRegValue HKCU "${SETTINGS_KEY}" "AppPath"
  DeleteRegKey /ifempty HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Corvalle\Addins"
  DeleteRegKey /ifempty HKCU "Software\Corvalle"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
