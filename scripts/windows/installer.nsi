; The configurator's Windows installer, made by scripts/windows/build.sh:
;   makensis -DVERSION=1.0 -DDIST=<folder of the programs> -DOUTFILE=<setup.exe> installer.nsi
; Installs into Program Files with a Start-menu entry and an uninstaller. The settings file is
; the user's: the uninstaller leaves it, and the folder with it, where it is.
; A 64-bit installer for 64-bit programs: it sees the 64-bit Program Files and registry as
; they are, and runs where they run, Wine's wine64 included.
Target amd64-unicode
!include "MUI2.nsh"

!define PRODUCT "Конфигуратор индикатора"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\indicator-config"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\indicator-config"
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\indicator-config.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

; The Start-menu entry is every user's, as the program is.
Function .onInit
    SetShellVarContext all
FunctionEnd

Function un.onInit
    SetShellVarContext all
FunctionEnd

Section
    SetOutPath "$INSTDIR"
    File /r "${DIST}\*"
    WriteUninstaller "$INSTDIR\uninstall.exe"
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\indicator-config.exe"
    CreateShortcut "$SMPROGRAMS\${PRODUCT}\Удалить.lnk" "$INSTDIR\uninstall.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\indicator-config.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Only what the installer put there goes; RMDir without /r keeps a folder that still holds
; the settings file.
Section "Uninstall"
    Delete "$INSTDIR\indicator-config.exe"
    Delete "$INSTDIR\indicator-cli.exe"
    Delete "$INSTDIR\indicator-report-pdf.exe"
    Delete "$INSTDIR\*.dll"
    Delete "$INSTDIR\qt.conf"
    Delete "$INSTDIR\LICENSE.txt"
    RMDir /r "$INSTDIR\plugins"
    RMDir /r "$INSTDIR\translations"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\Удалить.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
