; The Windows installer, Veltrano-Setup-x64.exe: a 64-bit NSIS installer that
; puts Veltrano.dll, veltrano.exe, the README and the licence into
; Program Files\Veltrano for the whole machine, registers the shell extension
; through the DLL's own DllRegisterServer (the registry content has one
; source), and adds an Add/Remove Programs entry.
;
; Built by CMake (target "installer"), which passes:
;   DLL, EXE, README, LICENSE  the files to install (build-machine paths)
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

!getdllversion "${DLL}" VER_
!define VERSION "${VER_1}.${VER_2}.${VER_3}.${VER_4}"
!define PRODUCT "Veltrano"
!define PUBLISHER "Kerbelin"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Veltrano"

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

Section "${PRODUCT} shell extension and command" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  !insertmacro InstallReplacing "${DLL}" "Veltrano.dll"
  !insertmacro InstallReplacing "${EXE}" "veltrano.exe"
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
