; The Windows installer of 联簿宝, made by scripts/windows/installer from build/windows/bin.
; Per user, without administrator rights: the program goes to the user's own program folder,
; the shortcuts to the user's Start menu and desktop. The uninstaller removes the program and its
; shortcuts only: the register and the settings live in the user's application-data folders and
; stay. /S installs and uninstalls silently.
;
; Defined on the makensis command line: VERSION, BINDIR (the folder to install), OUTFILE.

Unicode true
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include "MUI2.nsh"

Name "联簿宝 ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\lianbu"
InstallDirRegKey HKCU "Software\qiaomu\lianbu-setup" "InstallDir"
BrandingText "联簿宝 ${VERSION}"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\lianbu"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Section "联簿宝" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  ; The program, its tools, libraries, Qt plugins and qt.conf; never the tests.
  File /r /x "test_*.exe" /x "bench*.exe" /x "*.log" "${BINDIR}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "Software\qiaomu\lianbu-setup" "InstallDir" "$INSTDIR"

  CreateShortcut "$SMPROGRAMS\联簿宝.lnk" "$INSTDIR\lianbu.exe"
  CreateShortcut "$DESKTOP\联簿宝.lnk" "$INSTDIR\lianbu.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "联簿宝"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "qiaomu"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lianbu.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Only what the installer put there: a register, its backups and anything else the user keeps
  ; in that folder stay (the folder itself goes only when nothing is left in it).
  Delete "$SMPROGRAMS\联簿宝.lnk"
  Delete "$DESKTOP\联簿宝.lnk"
  Delete "$INSTDIR\*.exe"
  Delete "$INSTDIR\*.dll"
  Delete "$INSTDIR\qt.conf"
  RMDir /r "$INSTDIR\platforms"
  RMDir /r "$INSTDIR\sqldrivers"
  RMDir /r "$INSTDIR\imageformats"
  RMDir /r "$INSTDIR\styles"
  RMDir /r "$INSTDIR\translations"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\qiaomu\lianbu-setup"
SectionEnd
