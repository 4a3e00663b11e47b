; The Windows installer, Veltrano-Setup-x64.exe: a 64-bit NSIS installer that
; puts Veltrano.dll, veltrano.exe, the README and the licence into
; Program Files\Veltrano for the whole machine, registers the shell extension
; through the DLL's own DllRegisterServer (the registry content has one
; source), and adds an Add/Remove Programs entry.
;
; On Windows 10 2004 (build 19041) and later it also registers the sparse
; package Veltrano.msix, which gives the installed files the identity that
; Windows 11 wants before its file browser shows "Veltrano" in the top-level
; context menu. The package is registered for the user who runs the
; installer (Add-AppxPackage), not provisioned for every user
; (Add-AppxProvisionedPackage): provisioning takes no external location, so
; it cannot register a package whose program files live outside it, and it
; would only reach each user at their next sign-in. A registration that fails
; (an untrusted certificate, a policy) leaves the classic entry, which works
; everywhere ("Show more options" on Windows 11); the reason goes in
; install.log in the installation folder and the install still succeeds.
;
; Built by CMake (target "installer"), which passes:
;   DLL, EXE, README, LICENSE  the files to install (build-machine paths)
;   MSIX                       the sparse package to install and register
;   PACKAGE_NAME               its identity name (for its removal)
;   OUTFILE                    the installer to write
; The version comes from the version resource of the DLL.
;
; Command line: /S silent; /PATH also puts veltrano.exe on the PATH (the
; checkbox, off by default). Uninstaller: /S silent; /REMOVESETTINGS also
; removes the calling user's settings file (kept otherwise).

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "WinVer.nsh"
!include "WordFunc.nsh"

!getdllversion "${DLL}" VER_
!define VERSION "${VER_1}.${VER_2}.${VER_3}.${VER_4}"
!define PRODUCT "Veltrano"
!define PUBLISHER "Kerbelin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrano"
; The first Windows that registers packages with external content.
!define PACKAGE_MIN_BUILD 19041
!define POWERSHELL '"$SYSDIR\WindowsPowerShell\v1.0\powershell.exe" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command'

; What the finish page says about the Windows 11 context menu (set by
; RegisterPackage).
Var PackageNote

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Veltrano"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) the Veltrano developers"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$(^NameDA) has been installed on your computer.$\r$\n$\r$\n$PackageNote"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Replaces $INSTDIR\<name> by the new file. A file the system will not let
; go (the DLL loaded in the file browser) is renamed aside and deleted at the
; next restart; no restart is forced.
!macro InstallReplacing SOURCE NAME
  ${If} ${FileExists} "$INSTDIR\${NAME}"
    ClearErrors
    Delete "$INSTDIR\${NAME}"
    ${If} ${Errors}
      StrCpy $R0 0
      ${Do}
        IntOp $R0 $R0 + 1
      ${LoopWhile} ${FileExists} "$INSTDIR\${NAME}.$R0.old"
      Rename "$INSTDIR\${NAME}" "$INSTDIR\${NAME}.$R0.old"
      Delete /REBOOTOK "$INSTDIR\${NAME}.$R0.old"
    ${EndIf}
  ${EndIf}
  File "/oname=${NAME}" "${SOURCE}"
!macroend

; Appends one line to install.log in the installation folder and to the
; details list.
!macro Log TEXT
  DetailPrint "${TEXT}"
  FileOpen $9 "$INSTDIR\install.log" a
  FileSeek $9 0 END
  FileWrite $9 "${TEXT}$\r$\n"
  FileClose $9
!macroend

; Registers the sparse package for the user running the installer, with the
; installation folder as its external location. An upgrade replaces the
; registration of the older version; the same or an older version replaces
; it too (-ForceUpdateFromAnyVersion), so a reinstall never fails on it.
; Whatever fails is logged, and the install goes on: the classic entry
; serves. The file browser shows the new entry once it has restarted; that
; is said, not done.
Function RegisterPackage
  ${IfNot} ${AtLeastBuild} ${PACKAGE_MIN_BUILD}
    !insertmacro Log "Windows 11 context menu: not registered, this Windows is older than 10 version 2004 (build ${PACKAGE_MIN_BUILD}); the classic entry serves."
    StrCpy $PackageNote ""
    Return
  ${EndIf}
  ; PowerShell's single-quoted strings take any path; a quote doubles.
  ${WordReplace} "$INSTDIR" "'" "''" "+" $R1
  nsExec::ExecToStack `${POWERSHELL} "try { Add-AppxPackage -Path '$R1\Veltrano.msix' -ExternalLocation '$R1' -ForceUpdateFromAnyVersion -ErrorAction Stop } catch { Write-Output ('0x{0:X8} {1}' -f $$_.Exception.HResult, $$_.Exception.Message); exit 1 }"`
  Pop $0  ; exit code, or "error" when PowerShell could not be started
  Pop $1  ; what it wrote
  ${If} $0 == 0
    !insertmacro Log "Windows 11 context menu: package ${PACKAGE_NAME} registered for $\"$INSTDIR$\". Restart the file browser (or sign out and in) to see Veltrano in its menu."
    StrCpy $PackageNote "Restart the file browser (or sign out and in again) to see Veltrano in the Windows 11 context menu."
  ${Else}
    !insertmacro Log "Windows 11 context menu: registration failed (exit code $0): $1"
    !insertmacro Log "The classic entry works: on Windows 11 under $\"Show more options$\"."
    StrCpy $PackageNote "Veltrano is under $\"Show more options$\" in the Windows 11 context menu (see install.log)."
  ${EndIf}
FunctionEnd

; Removes the package's registration for every user who has it.
!macro UnregisterPackage
  ${If} ${AtLeastBuild} ${PACKAGE_MIN_BUILD}
    nsExec::ExecToStack `${POWERSHELL} "Get-AppxPackage -AllUsers -Name '${PACKAGE_NAME}' | Remove-AppxPackage -AllUsers -ErrorAction Stop"`
    Pop $0
    Pop $1
    DetailPrint "Windows 11 context menu: removal exit code $0 $1"
  ${EndIf}
!macroend

Section "${PRODUCT} shell extension and command" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  !insertmacro InstallReplacing "${DLL}" "Veltrano.dll"
  !insertmacro InstallReplacing "${EXE}" "veltrano.exe"
  File "/oname=Veltrano.msix" "${MSIX}"
  File "/oname=README.md" "${README}"
  File "/oname=LICENSE.txt" "${LICENSE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ; The DLL writes its own registry content.
  ClearErrors
  RegDLL "$INSTDIR\Veltrano.dll"
  ${If} ${Errors}
    MessageBox MB_ICONSTOP "The shell extension could not be registered." /SD IDOK
    SetErrorLevel 3
  ${EndIf}
  Call RegisterPackage

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMajor" ${VER_1}
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMinor" ${VER_2}
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Uninstall.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  IntFmt $0 "0x%08X" $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

; The machine PATH is edited by veltrano.exe itself, through the registry
; calls: NSIS strings end at 1,024 characters, which would cut a longer PATH.
; It adds the folder as one whole entry unless it is there already, keeps the
; value's type and every other entry, and tells running programs. Exit 0:
; added (and so to be removed by the uninstaller), 10: there already.
Section /o "Add veltrano.exe to the PATH" SecPath
  nsExec::ExecToLog '"$INSTDIR\veltrano.exe" --machine-path add "$INSTDIR"'
  Pop $0
  ${If} $0 == 0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "AddedToPath" 1
  ${ElseIf} $0 != 10
    MessageBox MB_ICONEXCLAMATION "veltrano.exe could not be added to the PATH ($0)." /SD IDOK
    SetErrorLevel 4
  ${EndIf}
SectionEnd

Function .onInit
  SetRegView 64
  SetShellVarContext all
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_ICONSTOP "Installing ${PRODUCT} needs administrator rights." /SD IDOK
    SetErrorLevel 740  ; ERROR_ELEVATION_REQUIRED
    Quit
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/PATH" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecPath} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecMain} "The context-menu command of the file browser and veltrano.exe."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecPath} "Lets a command prompt find veltrano.exe."
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Uninstall"
  !insertmacro UnregisterPackage
  ClearErrors
  UnRegDLL "$INSTDIR\Veltrano.dll"

  ; Only the entry the installer added goes, and only when it added it.
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    nsExec::ExecToLog '"$INSTDIR\veltrano.exe" --machine-path remove "$INSTDIR"'
    Pop $0
  ${EndIf}

  ; A DLL still loaded in the file browser goes at the next restart.
  Delete /REBOOTOK "$INSTDIR\Veltrano.dll"
  Delete /REBOOTOK "$INSTDIR\Veltrano.dll.*.old"
  Delete /REBOOTOK "$INSTDIR\veltrano.exe"
  Delete /REBOOTOK "$INSTDIR\veltrano.exe.*.old"
  Delete "$INSTDIR\Veltrano.msix"
  Delete "$INSTDIR\install.log"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The user's settings stay unless asked for.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    SetShellVarContext current
    Delete "$APPDATA\Kerbelin\VLTR\VLTR.cfg"
    RMDir "$APPDATA\Kerbelin\VLTR"
    RMDir "$APPDATA\Kerbelin"
  ${EndIf}
SectionEnd
