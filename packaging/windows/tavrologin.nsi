; The Windows installer: the program in Program Files, started at every user's logon,
; and the data folder's first-start files put in place by the program's own store code.
; makensis -DVERSION=2.1.0.1 -DBUILD=<build-windows> -DOUTFILE=<setup.exe> tavrologin.nsi
; A 64-bit installer for a 64-bit program (and wine64 runs it as it is).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef BUILD
  !error "BUILD is not defined"
!endif

Name "Tavro Login"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Tavro Login"
VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Tavro Login"
VIAddVersionKey "FileDescription" "Tavro Login setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "Tavro"
VIAddVersionKey "LegalCopyright" "Tavro"
Icon "${SOURCE}\app\tavrologin.ico"
UninstallIcon "${SOURCE}\app\tavrologin.ico"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavro Login"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Tavro Login"
  SetOutPath "$INSTDIR"
  File "${BUILD}\app\tavrologin.exe"
  File "${BUILD}\app\classicbg.bmp"
  File "${BUILD}\app\tavrologin-datafolder.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; Only what is missing is written: an upgrade keeps the administrators' profiles.
  ExecWait '"$INSTDIR\tavrologin-datafolder.exe"' $0
  StrCmp $0 0 +2
    DetailPrint "The data folder could not be set up (exit code $0)."

  ; Every user's session starts the client.
  WriteRegStr HKLM "${RUN_KEY}" "Tavro Login" '"$INSTDIR\tavrologin.exe"'
  CreateShortCut "$SMPROGRAMS\Tavro Login.lnk" "$INSTDIR\tavrologin.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Tavro Login"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Tavro"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tavrologin.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The data folder stays: its profiles are the administrators' work.
Section "Uninstall"
  DeleteRegValue HKLM "${RUN_KEY}" "Tavro Login"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$SMPROGRAMS\Tavro Login.lnk"
  Delete "$INSTDIR\tavrologin.exe"
  Delete "$INSTDIR\classicbg.bmp"
  Delete "$INSTDIR\tavrologin-datafolder.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
