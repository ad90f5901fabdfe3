; Ulvex Hub's installer, as far as UlvexSystemSetup is concerned: a complete
; NSIS 3 script that the test suite builds and runs through install, repair
; and uninstall (tests/e2e/installer_e2e_test.cpp).
;
;   makensis -DPAYLOAD=<folder> -DOUTFILE=<setup.exe> examples/installer.nsi
;
; Every file of PAYLOAD (UlvexSystemSetup.exe, the product's runtime.json with
; whatever it names, Hub.exe) goes into "$PROGRAMFILES64\Ulvex Hub".
;
; Silent, as a fleet tool runs them; both wait and give the exit code:
;   setup.exe /S
;   "C:\Program Files\Ulvex Hub\uninstall.exe" /S _?=C:\Program Files\Ulvex Hub
; _?= comes last and unquoted, spaces and all. Without it the uninstaller
; copies itself to TEMP, starts the copy and returns at once.
;
; Exit codes: 0 done; NSIS's own 1 (cancelled) and 2 (aborted); 1000 + the
; mask of the failed tasks, or 1999 when UlvexSystemSetup did not start.

Unicode true
Target amd64-unicode ; NSIS builds 32-bit installers unless told
RequestExecutionLevel admin

!ifndef PAYLOAD | OUTFILE
  !error "usage: makensis -DPAYLOAD=<folder> -DOUTFILE=<setup.exe> installer.nsi"
!endif

!include LogicLib.nsh
!include x64.nsh

!define PRODUCT "Ulvex Hub"
!define ARP_KEY "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The runtime active before the install, for the uninstall to give back.
; Standard users cannot write HKLM: only an administrator chooses it.
!define RECORD_KEY "SOFTWARE\Ulvex\Hub"
!define RECORD_NAME "PreviousOpenXrRuntime"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The folder is fixed (/D is not honoured): the uninstall deletes it whole and
; gives UlvexSystemSetup the paths the install gave.
Function .onInit
  ; A 64-bit installer does not start on 32-bit Windows at all; this keeps a
  ; build for another target from installing there.
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
FunctionEnd

Function un.onInit
  SetRegView 64
  StrCpy $INSTDIR "$PROGRAMFILES64\${PRODUCT}"
FunctionEnd

; Runs UlvexSystemSetup hidden with the tasks in $1 and the results file
; $INSTDIR\$2 (a folder standard users cannot write), copies the file's lines
; into the details, and leaves in $0 the exit code to give: 0, 1000 + the
; mask, or 1999 when it did not start.
!macro RUN_SYSTEM_SETUP un
Function ${un}RunSystemSetup
  ; Without this, a file left by an earlier run would pass for this run's.
  Delete "$INSTDIR\$2"
  nsExec::Exec '"$INSTDIR\UlvexSystemSetup.exe" --result "$INSTDIR\$2" $1'
  Pop $0
  DetailPrint "UlvexSystemSetup $1: exit code $0"
  ${If} $0 == error
    StrCpy $0 1999
  ${ElseIf} $0 <> 0
    IntOp $0 $0 + 1000
  ${EndIf}
  ClearErrors
  FileOpen $3 "$INSTDIR\$2" r
  ${IfNot} ${Errors}
    FileSeek $3 3 ; UTF-8 byte-order mark; the lines are ASCII, each ending in CR LF
    ${Do}
      FileRead $3 $4
      ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
      StrCpy $4 $4 -2
      DetailPrint "UlvexSystemSetup: $4"
    ${Loop}
    FileClose $3
  ${EndIf}
  ${If} $0 <> 0
    MessageBox MB_ICONEXCLAMATION "Some system settings failed (code $0): see the details." /SD IDOK
  ${EndIf}
FunctionEnd
!macroend
!insertmacro RUN_SYSTEM_SETUP ""
!insertmacro RUN_SYSTEM_SETUP "un."

; Records ActiveRuntime unless it is empty, ours (== ignores letter case), or a
; record is there already: a repair or an upgrade keeps the first install's.
Function RecordActiveRuntime
  ReadRegStr $0 HKLM "${RECORD_KEY}" "${RECORD_NAME}"
  ${If} $0 == ""
    ClearErrors
    ; Reads REG_SZ and REG_EXPAND_SZ as stored; a DWORD comes as digits with
    ; the error flag set, and is not a runtime.
    ReadRegStr $0 HKLM "SOFTWARE\Khronos\OpenXR\1" "ActiveRuntime"
    ${IfNot} ${Errors}
      ; The restore takes only an absolute path (87 otherwise), so a
      ; REG_EXPAND_SZ value (%ProgramFiles%\...) is recorded as a 64-bit
      ; application's loader reads it: expanded, in this 64-bit process.
      ; ReadRegStr does not tell the two types apart: a REG_SZ is expanded too.
      ExpandEnvStrings $0 $0
      ${If} $0 != ""
      ${AndIf} $0 != "$INSTDIR\runtime.json"
        WriteRegStr HKLM "${RECORD_KEY}" "${RECORD_NAME}" $0
      ${EndIf}
    ${EndIf}
  ${EndIf}
FunctionEnd

; Install, repair and upgrade alike: the files, then the tasks.
Section
  SetOutPath "$INSTDIR"
  File /r "${PAYLOAD}\*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${ARP_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${ARP_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${ARP_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S _?=$INSTDIR'
  WriteRegStr HKLM "${ARP_KEY}" "InstallLocation" "$INSTDIR"
  Call RecordActiveRuntime
  StrCpy $1 '--firewall-add --firewall-app "$INSTDIR\Hub.exe" --openxr-runtime'
  StrCpy $1 '$1 "$INSTDIR\runtime.json" --clear-xr-env --remove-legacy-autostart'
  StrCpy $2 "install.txt"
  Call RunSystemSetup
  SetErrorLevel $0
SectionEnd

; A failed task is shown and becomes the exit code; the uninstall goes on.
Section "Uninstall"
  StrCpy $1 '--firewall-remove --firewall-app-remove "$INSTDIR\Hub.exe"'
  StrCpy $1 '$1 --openxr-runtime-remove "$INSTDIR\runtime.json"'
  ; After the removal: ours, if still active, gives way to the recorded one.
  ReadRegStr $5 HKLM "${RECORD_KEY}" "${RECORD_NAME}"
  ${If} $5 != ""
    StrCpy $1 '$1 --openxr-runtime-restore "$5"'
  ${EndIf}
  StrCpy $2 "uninstall.txt"
  Call un.RunSystemSetup
  SetErrorLevel $0
  DeleteRegValue HKLM "${RECORD_KEY}" "${RECORD_NAME}"
  DeleteRegKey /ifempty HKLM "${RECORD_KEY}"
  DeleteRegKey /ifempty HKLM "SOFTWARE\Ulvex"
  DeleteRegKey HKLM "${ARP_KEY}"
  SetOutPath "$TEMP" ; the current folder could not be deleted
  ; Run in place (_?=), the uninstaller cannot delete itself, but Windows lets
  ; a running program's file be renamed: moved into TEMP, it goes at the next
  ; restart and the folder goes now, so a reinstall before that restart keeps
  ; its new uninstaller. Where the move fails (TEMP on another volume; Wine),
  ; the uninstaller and the folder wait for the restart.
  GetTempFileName $6
  Delete $6
  ClearErrors
  Rename "$INSTDIR\uninstall.exe" $6
  ${IfNot} ${Errors}
    Delete /REBOOTOK $6
  ${EndIf}
  RMDir /r /REBOOTOK "$INSTDIR"
SectionEnd
