; Installer of the Winamp DSP plug-in dsp_redozer.dll.
;
; Finds the player's folder the way Winamp plug-in installers do (the player's
; own key HKCU\Software\Winamp, default value; then the folder of the
; uninstaller named by the player's machine-wide uninstall entry; then
; %ProgramFiles%\Winamp), lets the user change it, refuses a folder without
; winamp.exe, and puts the DLL into its Plugins folder with an uninstaller.
; Silent mode: setup.exe /S [/D=C:\Path\To\Winamp] (exit code 2 when the folder
; holds no winamp.exe, and then nothing is written, or when the DLL there is in
; use and cannot be replaced).
;
; The settings files (dsp_redozer.ini, zb_local.ini) and the profile folder
; %APPDATA%\dsp_redozer belong to the user: neither the installer nor the
; uninstaller ever touches them.
;
; Built by CMake (cmake/windows-dist.cmake):
;   makensis -DVERSION=2.1.0 -DPRODUCT=... -DPUBLISHER=... -DCOPYRIGHT=...
;            -DHOMEPAGE=... -DDLL=dsp_redozer.dll -DLICENSE=LICENSE.txt
;            -DOUTFILE=setup.exe dsp_redozer.nsi

!ifndef VERSION | PRODUCT | PUBLISHER | COPYRIGHT | HOMEPAGE | DLL | LICENSE | OUTFILE
  !error "define VERSION, PRODUCT, PUBLISHER, COPYRIGHT, HOMEPAGE, DLL, LICENSE and OUTFILE"
!endif

Unicode true
SetCompressor /SOLID lzma
; The player usually lives under Program Files.
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"

!define PLAYER_KEY "Software\Winamp"
!define PLAYER_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\dsp_redozer"
; The uninstaller sits beside the DLL, the one file it removes.
!define UNINSTALLER "dsp_redozer-uninstall.exe"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${COPYRIGHT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup (Winamp DSP plug-in)"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"

!define MUI_ABORTWARNING

!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!define MUI_PAGE_HEADER_TEXT "Choose the Winamp folder"
!define MUI_PAGE_HEADER_SUBTEXT "Choose the Winamp installation that gets the plug-in."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Setup installs dsp_redozer.dll into the Plugins folder of the Winamp folder below. If Winamp lives elsewhere, choose the folder that holds winamp.exe."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Winamp folder"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckPlayerFolderPage
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "${PRODUCT} ${VERSION} is installed"
!define MUI_FINISHPAGE_TEXT "Restart Winamp, open Options > Preferences > Plug-ins > DSP/Effect and choose $\"yarq's Audio Enhancers v2.1$\". $\"Configure active plug-in$\" opens its settings.$\r$\n$\r$\nYour settings in dsp_redozer.ini were left as they were."
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!define MUI_FINISHPAGE_TITLE "${PRODUCT} is removed"
!define MUI_FINISHPAGE_TEXT "dsp_redozer.dll has been removed from Winamp's Plugins folder.$\r$\n$\r$\nYour settings stay where they are: dsp_redozer.ini and zb_local.ini beside the plug-in, or the folder dsp_redozer in your profile (%APPDATA%). Delete them by hand if you no longer want them."
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

Var candidate

; $candidate := the folder of the program named by the command line in
; $candidate (quoted or not), e.g. "C:\Winamp\UninstWA.exe" -> C:\Winamp.
Function FolderOfCommand
  Push $0
  Push $1
  StrCpy $0 $candidate 1
  ${If} $0 == '"'
    StrCpy $candidate $candidate "" 1
    StrCpy $1 0
    ${Do}
      StrCpy $0 $candidate 1 $1
      ${If} $0 == '"'
      ${OrIf} $0 == ""
        ${ExitDo}
      ${EndIf}
      IntOp $1 $1 + 1
    ${Loop}
    StrCpy $candidate $candidate $1
  ${EndIf}
  ${GetParent} $candidate $candidate
  Pop $1
  Pop $0
FunctionEnd

; Takes $candidate as the player's folder when it holds winamp.exe and no
; folder has been chosen yet ($R9 = 0).
Function TakeCandidate
  ${If} $R9 == 0
  ${AndIf} $candidate != ""
  ${AndIf} ${FileExists} "$candidate\winamp.exe"
    StrCpy $INSTDIR $candidate
    StrCpy $R9 1
  ${EndIf}
FunctionEnd

Function .onInit
  ; /D= sets $INSTDIR before this function runs; it wins over the search.
  ${If} $INSTDIR == ""
    StrCpy $R9 0
    ReadRegStr $candidate HKCU "${PLAYER_KEY}" ""
    Call TakeCandidate
    ReadRegStr $candidate HKLM "${PLAYER_UNINSTALL_KEY}" "UninstallString"
    ${If} $candidate != ""
      Call FolderOfCommand
    ${EndIf}
    Call TakeCandidate
    StrCpy $candidate "$PROGRAMFILES\Winamp"
    Call TakeCandidate
    ; Nothing found: offer the usual folder for the user to change.
    ${If} $R9 == 0
      StrCpy $INSTDIR "$PROGRAMFILES\Winamp"
    ${EndIf}
  ${EndIf}
  ${If} ${Silent}
  ${AndIfNot} ${FileExists} "$INSTDIR\winamp.exe"
    SetErrorLevel 2
    Abort
  ${EndIf}
FunctionEnd

Function CheckPlayerFolderPage
  ${IfNot} ${FileExists} "$INSTDIR\winamp.exe"
    MessageBox MB_OK|MB_ICONEXCLAMATION "The folder$\r$\n$\r$\n$INSTDIR$\r$\n$\r$\nholds no winamp.exe, so it is not a Winamp folder. Choose the folder Winamp is installed in; the plug-in goes into its Plugins folder." /SD IDOK
    Abort
  ${EndIf}
FunctionEnd

Section "dsp_redozer.dll" SecPlugin
  SectionIn RO
  SetOutPath "$INSTDIR\Plugins"
  SetOverwrite on
  ; Replaces an older copy. While Winamp runs the old file is in use: NSIS
  ; offers to retry; skipping it (or silent mode) must not end as a success
  ; that leaves the old DLL in place.
  ClearErrors
  File "/oname=dsp_redozer.dll" "${DLL}"
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONSTOP "$INSTDIR\Plugins\dsp_redozer.dll is in use and could not be replaced. Close Winamp and run Setup again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  WriteUninstaller "$INSTDIR\Plugins\${UNINSTALLER}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} ${VERSION} (Winamp DSP plug-in)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "${HOMEPAGE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR\Plugins"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize ${SecPlugin} $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The uninstaller's $INSTDIR is its own folder: the player's Plugins folder.
Section "Uninstall"
  Delete "$INSTDIR\dsp_redozer.dll"
  ${If} ${FileExists} "$INSTDIR\dsp_redozer.dll"
    MessageBox MB_OK|MB_ICONEXCLAMATION "$INSTDIR\dsp_redozer.dll is in use and was not removed. Close Winamp and run the uninstaller again." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  Delete "$INSTDIR\${UNINSTALLER}"
  ; The entry is ours only when it describes this folder (the plug-in may have
  ; been installed into a second player since).
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == "$INSTDIR"
  ${OrIf} $0 == ""
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
SectionEnd
