; The Windows installer of 联簿宝, made by scripts/windows/installer from build/windows/bin.
; Per user, without administrator rights: the program goes to the user's own program folder,
; the shortcuts to the user's Start menu and desktop. The uninstaller removes the program and its
; shortcuts only: the register and the settings live in the user's application-data folders and
; stay. /S installs and uninstalls silently.
;
; Defined on the makensis command line: VERSION, BINDIR (the folder to install), OUTFILE.

; A 64-bit installer for the 64-bit program (it also runs where only 64-bit programs can, as
; under a 64-bit-only Wine).
Target amd64-unicode
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
  ; The program, its tools, libraries, Qt plugins and qt.conf; the build's folder
  ; also holds the tests and their helper programs, which stay out.
  File "${BINDIR}\lianbu.exe"
  File "${BINDIR}\lianbu-initdb.exe"
  File "${BINDIR}\lianbu-backup.exe"
  File "${BINDIR}\Rurezure3.exe"
  File /x "Qt6Test.dll" "${BINDIR}\*.dll"
  File "${BINDIR}\qt.conf"
  File /r "${BINDIR}\platforms"
  File /r "${BINDIR}\sqldrivers"
  File /r "${BINDIR}\imageformats"
  File /r "${BINDIR}\styles"
  File /r "${BINDIR}\manual"
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
  RMDir /r "$INSTDIR\manual"
  RMDir /r "$INSTDIR\translations"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\qiaomu\lianbu-setup"
SectionEnd
