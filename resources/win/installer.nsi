; The Windows installer: the portable files, installed for the current user
; only (no administrator rights) with a Start-menu entry and an entry under
; the installed programs. makensis is given:
;   VERSION       the project version, e.g. 1.0.0
;   VERSION_QUAD  the same with four numbers, e.g. 1.0.0.0
;   FILES         the folder holding the files of the portable zip
;   ICON          the program icon
;   OUTFILE       the installer to write
; /S installs or uninstalls without a window.

Unicode true
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma
; File times would make every build a different file.
SetDateSave off

!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrova"

Name "Kestrova ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$LOCALAPPDATA\Programs\Kestrova"
InstallDirRegKey HKCU "${UNINST_KEY}" "InstallLocation"
ShowInstDetails show
BrandingText "Kestrova ${VERSION}"

VIProductVersion "${VERSION_QUAD}"
VIFileVersion "${VERSION_QUAD}"
VIAddVersionKey /LANG=1033 "ProductName" "Kestrova"
VIAddVersionKey /LANG=1033 "CompanyName" "Kestrova"
VIAddVersionKey /LANG=1033 "FileDescription" "Kestrova setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) The Kestrova developers"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
LicenseData "${FILES}\LICENSE.txt"

Function .onInit
  ; Per-user folders and Start menu, whatever the account may do.
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Kestrova"
  SetOutPath "$INSTDIR"
  File "${FILES}\kestrova.exe"
  File "${FILES}\kestrova-scan.exe"
  File "${FILES}\kestrova-match.exe"
  File "${FILES}\driver.html"
  File "${FILES}\README.txt"
  File "${FILES}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "$SMPROGRAMS\Kestrova.lnk" "$INSTDIR\kestrova.exe" "" "$INSTDIR\kestrova.exe" 0

  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "Kestrova"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "Kestrova"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\kestrova.exe"
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\Kestrova.lnk"
  Delete "$INSTDIR\kestrova.exe"
  Delete "$INSTDIR\kestrova-scan.exe"
  Delete "$INSTDIR\kestrova-match.exe"
  Delete "$INSTDIR\driver.html"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  ; Only if empty: files the user put there stay.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINST_KEY}"
SectionEnd
