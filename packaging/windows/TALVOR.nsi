; TALVOR's Windows installer, built on Linux by makensis (Debian's nsis) from
; packaging/CMakeLists.txt, which passes the identity and the files:
;   NAME MAKER VERSION URL     the plug-in's identity
;   BUNDLE VST2 LICENSE README the files to install
;   VST3PRESETS VST2PRESETS    the folders of factory presets (.vstpreset, .fxp)
;   PRESETLIST                 FactoryPresets.nsh: their names, for the uninstaller
;   OUTFILE                    the installer to write
;
; Installs the VST3 bundle into %CommonProgramFiles%\VST3, the VST2 module
; into a folder the user chooses (default %ProgramFiles%\VSTPlugins; /VST2DIR=
; on the command line), the licence, the read-me, the VST2 presets (presets\)
; and the uninstaller into %ProgramFiles%\<maker>\<name>, the VST3 presets
; into %PROGRAMDATA%\VST3 Presets\<maker>\<name> (where VST3 hosts look), and
; registers the uninstaller with Windows. /S installs or uninstalls silently.
; Only TALVOR's own files are ever deleted.

Unicode true
; A 64-bit program: 32-bit Windows refuses to start it, and the plug-ins are
; 64-bit only.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "x64.nsh"
!include "${PRESETLIST}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"
!define SETTINGS_KEY "Software\${MAKER}\${NAME}"
!define VST3_FOLDER "$COMMONFILES64\VST3"
!define VST3_BUNDLE "${VST3_FOLDER}\${NAME}.vst3"
; $APPDATA is %PROGRAMDATA% once SetShellVarContext all has run.
!define VST3_PRESETS_ROOT "$APPDATA\VST3 Presets"
!define VST3_PRESETS "${VST3_PRESETS_ROOT}\${MAKER}\${NAME}"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${MAKER}\${NAME}"
BrandingText "${MAKER}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "CompanyName" "${MAKER}"
VIAddVersionKey "FileDescription" "${NAME} ${VERSION} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "GNU General Public License version 3 or later"

Var Vst2Dir
; 1 when this installer (or an earlier one) created the folder, which then
; goes again with the last file in it.
Var Vst2Created
Var Vst3Created

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!define MUI_PAGE_HEADER_TEXT "VST 2 plug-in folder"
!define MUI_PAGE_HEADER_SUBTEXT "Where your host looks for VST 2 plug-ins."
!define MUI_DIRECTORYPAGE_TEXT_TOP "The VST3 plug-in goes into ${VST3_FOLDER}, where every VST3 host looks for it. Choose the folder your host scans for VST 2 plug-ins; ${NAME}.dll is copied there."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "VST 2 plug-in folder"
!define MUI_DIRECTORYPAGE_VARIABLE $Vst2Dir
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\README.txt"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${NAME} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  ; A reinstall keeps the folder chosen last time, unless told otherwise.
  ReadRegStr $Vst2Dir HKLM "${SETTINGS_KEY}" "VST2Folder"
  ${If} $Vst2Dir == ""
    StrCpy $Vst2Dir "$PROGRAMFILES64\VSTPlugins"
  ${EndIf}
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/VST2DIR=" $R1
  ${IfNot} ${Errors}
  ${AndIf} $R1 != ""
    StrCpy $Vst2Dir $R1
  ${EndIf}
FunctionEnd

; Removes what an earlier install of TALVOR left, whatever its version: the
; previous VST2 module (it may sit in another folder), the VST3 bundle, or the
; bare module that older releases had copied by hand to the bundle's path.
; Decides which folders are this product's to remove later.
Function RemovePreviousInstall
  ReadRegStr $0 HKLM "${SETTINGS_KEY}" "VST2Folder"
  ReadRegDWORD $1 HKLM "${SETTINGS_KEY}" "VST2FolderCreated"
  StrCpy $Vst2Created 0
  ${If} $0 != ""
    Delete "$0\${NAME}.dll"
    ${If} $0 == $Vst2Dir
      StrCpy $Vst2Created $1
    ${ElseIf} $1 == 1
      RMDir "$0"
    ${EndIf}
  ${EndIf}
  ${IfNot} ${FileExists} "$Vst2Dir\*.*"
    StrCpy $Vst2Created 1
  ${EndIf}

  ReadRegDWORD $Vst3Created HKLM "${SETTINGS_KEY}" "VST3FolderCreated"
  ${IfNot} ${FileExists} "${VST3_FOLDER}\*.*"
    StrCpy $Vst3Created 1
  ${EndIf}
  ${If} ${FileExists} "${VST3_BUNDLE}\*.*"
    RMDir /r "${VST3_BUNDLE}"
  ${ElseIf} ${FileExists} "${VST3_BUNDLE}"
    Delete "${VST3_BUNDLE}"
  ${EndIf}
FunctionEnd

Section "${NAME}"
  SetRegView 64
  SetShellVarContext all
  Call RemovePreviousInstall

  SetOutPath "${VST3_BUNDLE}"
  File /r "${BUNDLE}\*.*"

  SetOutPath "$Vst2Dir"
  File "${VST2}"

  SetOutPath "${VST3_PRESETS}"
  File "${VST3PRESETS}\*.vstpreset"
  SetOutPath "$INSTDIR\presets"
  File "${VST2PRESETS}\*.fxp"

  SetOutPath "$INSTDIR"
  File "/oname=LICENSE.txt" "${LICENSE}"
  File "/oname=README.txt" "${README}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  WriteRegStr HKLM "${SETTINGS_KEY}" "Version" "${VERSION}"
  WriteRegStr HKLM "${SETTINGS_KEY}" "VST2Folder" "$Vst2Dir"
  WriteRegDWORD HKLM "${SETTINGS_KEY}" "VST2FolderCreated" $Vst2Created
  WriteRegDWORD HKLM "${SETTINGS_KEY}" "VST3FolderCreated" $Vst3Created
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${URL}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "${VST3_BUNDLE}" "/S=0K" $0 $1 $2
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  IntOp $0 $0 + $1
  ${GetSize} "${VST3_PRESETS}" "/S=0K" $1 $2 $3
  IntOp $0 $0 + $1
  ${GetSize} "$Vst2Dir" "/M=${NAME}.dll /S=0K /G=0" $1 $2 $3
  IntOp $0 $0 + $1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  SetRegView 64
  ; Run without an install (a second time, or a stray copy): nothing to do,
  ; and nothing in the folder it was started from is touched.
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == ""
    MessageBox MB_ICONINFORMATION "${NAME} is not installed." /SD IDOK
    Quit
  ${EndIf}
  StrCpy $INSTDIR $0
FunctionEnd

Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  ReadRegStr $0 HKLM "${SETTINGS_KEY}" "VST2Folder"
  ReadRegDWORD $1 HKLM "${SETTINGS_KEY}" "VST2FolderCreated"
  ${If} $0 != ""
    Delete "$0\${NAME}.dll"
    ${If} $1 == 1
      RMDir "$0"
    ${EndIf}
  ${EndIf}
  RMDir /r "${VST3_BUNDLE}"
  ReadRegDWORD $1 HKLM "${SETTINGS_KEY}" "VST3FolderCreated"
  ${If} $1 == 1
    RMDir "${VST3_FOLDER}"
  ${EndIf}

  ; The factory presets by name: presets the user saved beside them stay.
  !insertmacro DeleteFactoryPresets "${VST3_PRESETS}" ".vstpreset"
  RMDir "${VST3_PRESETS}"
  RMDir "${VST3_PRESETS_ROOT}\${MAKER}"
  RMDir "${VST3_PRESETS_ROOT}"
  !insertmacro DeleteFactoryPresets "$INSTDIR\presets" ".fxp"
  RMDir "$INSTDIR\presets"

  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  RMDir "$PROGRAMFILES64\${MAKER}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKLM "Software\${MAKER}"
SectionEnd
