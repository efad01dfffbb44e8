; A sample setup for the new Quillmora Launcher that migrates an older
; installation with installer-helper.exe: context, begin, its own step (the
; three new binaries and the registration), then commit, or rollback when its
; own step fails. Built by samples/setup/CMakeLists.txt:
;
;   makensis -DHELPER_EXE=... -DPAYLOAD_DIR=... -DOUTPUT_EXE=... quillmora-setup.nsi
;
; Command line (besides NSIS's own /S and /D=DIR):
;   /REPORT=FILE   also writes the closing message to FILE (UTF-16LE), so that
;                  a silent run can be checked
;   /FAILSTEP      setup's own step fails after it replaced the launcher, as a
;                  full disk or a locked file would make it fail (for tests)
;
; HELPER_TIMEOUT_MS (makensis -D) overrides the two minutes a helper run may take.
;
; Exit status: 0 installed; 1 failed (rolled back, or nothing changed);
; 2 installed, but cleaning up the older installation stopped (the next run of
; setup finishes it); 740 must be run again elevated.

Unicode true
Target amd64-unicode
ManifestSupportedOS all
RequestExecutionLevel user  ; the helper's context says when elevation is needed
SetCompressor /SOLID lzma
SilentInstall normal
ShowInstDetails show

!include LogicLib.nsh
!include FileFunc.nsh

!ifndef HELPER_EXE | PAYLOAD_DIR | OUTPUT_EXE
  !error "define HELPER_EXE, PAYLOAD_DIR and OUTPUT_EXE"
!endif

Name "Quillmora Launcher"
OutFile "${OUTPUT_EXE}"
; No InstallDir: without /D= the helper chooses the directory (registrations,
; then the default), and every step after context uses the one it chose.

; The helper writes its one line at the very end, so a run that takes longer
; than this is taken as hung and ended.
!ifndef HELPER_TIMEOUT_MS
  !define HELPER_TIMEOUT_MS 120000
!endif
!define ERROR_ELEVATION_REQUIRED 740

Var helper          ; installer-helper.exe, extracted to $PLUGINSDIR
Var context_file
Var report_file
Var status          ; of the latest helper run: its exit status, "timeout" or "error"
Var message         ; and its line on standard error, without the line feed
Var directory       ; the context's fields that setup uses
Var scope
Var sid
Var legacy
Var elevate
Var registry_root   ; "HKU\<sid>" or "HKLM", for messages only
Var fail_step       ; 1 with /FAILSTEP

Page instfiles

; ---- Running the helper ----

; "PATH" with the standard quoting: backslashes before the closing quotation
; mark are doubled, so that "C:\Games\" reaches the helper as C:\Games\ and
; not as C:\Games" plus whatever follows. A path holds no quotation marks.
; Stack: path -> quoted path.
Function QuotePath
  Exch $0
  Push $1
  Push $2
  StrCpy $1 ""
  ${Do}
    StrCpy $2 $0 1 -1
    ${IfThen} $2 != "\" ${|} ${ExitDo} ${|}
    StrCpy $1 "$1\"
    StrCpy $0 $0 -1
  ${Loop}
  StrCpy $0 '"$0$1$1"'
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

!macro QUOTE_PATH path variable
  Push "${path}"
  Call QuotePath
  Pop ${variable}
!macroend

; Runs the helper with -Action ACTION -Output <context file>, ARGUMENTS after
; them; sets $status and $message.
!macro RUN_HELPER action arguments
  Push "${action}"
  Push "${arguments}"
  Call RunHelper
!macroend

Function RunHelper
  Exch $1  ; further arguments
  Exch
  Exch $0  ; action
  Push $2
  Push $3
  !insertmacro QUOTE_PATH $helper $2
  !insertmacro QUOTE_PATH $context_file $3
  DetailPrint "installer-helper -Action $0"
  Push '$2 -Action $0 -Output $3 $1'
  Call RunBounded
  ; One line ending in a line feed: keep the text alone.
  ${Do}
    StrCpy $2 $message 1 -1
    ${If} $2 == "$\n"
    ${OrIf} $2 == "$\r"
      StrCpy $message $message -1
    ${Else}
      ${ExitDo}
    ${EndIf}
  ${Loop}
  ${If} $status == "timeout"
    StrCpy $message "installer-helper -Action $0 did not finish within ${HELPER_TIMEOUT_MS} ms and was ended."
  ${ElseIf} $status == "error"
    StrCpy $message "installer-helper -Action $0 could not be started."
  ${EndIf}
  DetailPrint "  exit status $status$\r$\n  $message"
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Runs a command line with standard output and standard error on one pipe,
; waits at most HELPER_TIMEOUT_MS and ends the process when that passes (the
; plug-in nsExec's /TIMEOUT only stops waiting, and leaves a hung process
; running). Sets $status to the exit status, "timeout" or "error", and
; $message to the output, decoded as UTF-8 (nsExec would take it for the
; ANSI code page). The pipe holds 64 KiB, far more than the helper's line, so
; the child never blocks on it before it ends. Structure layouts are those of
; 64-bit Windows. Stack: command line.
!define STARTF_USESTDHANDLES_AND_SHOWWINDOW 0x101
!define CREATE_NO_WINDOW 0x08000000
!define WAIT_TIMEOUT 258
!define OUTPUT_BYTES 8192
!define OUTPUT_READ 8191
Function RunBounded
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  StrCpy $status "error"
  StrCpy $message ""
  ; SECURITY_ATTRIBUTES with an inheritable handle; the pipe's read end
  ; stays with setup.
  System::Call '*(i 24, i 0, p 0, i 1, i 0) p .r1'
  System::Call 'kernel32::CreatePipe(*p .r2, *p .r3, p r1, i 65536) i .r4'
  System::Free $1
  ${If} $4 == 0
    Goto done
  ${EndIf}
  System::Call 'kernel32::SetHandleInformation(p r2, i 1, i 0)'
  ; STARTUPINFOW: no window, no standard input, the pipe for both outputs.
  StrCpy $4 '*(i 104, i 0, p 0, p 0, p 0, i 0, i 0, i 0, i 0, i 0, i 0, i 0, '
  StrCpy $4 '$4i ${STARTF_USESTDHANDLES_AND_SHOWWINDOW}, &i2 0, &i2 0, i 0, p 0, p 0, p r3, p r3)'
  System::Call '$4 p .r5'
  System::Call '*(p 0, p 0, i 0, i 0) p .r6'  ; PROCESS_INFORMATION
  StrCpy $4 'kernel32::CreateProcessW(p 0, w r0, p 0, p 0, i 1, i ${CREATE_NO_WINDOW}, '
  System::Call '$4p 0, p 0, p r5, p r6) i .r4'
  System::Call 'kernel32::CloseHandle(p r3)'  ; or the pipe never reports its end
  System::Free $5
  ${If} $4 == 0
    System::Free $6
    System::Call 'kernel32::CloseHandle(p r2)'
    Goto done
  ${EndIf}
  System::Call '*$6(p .r7, p .r8)'
  System::Free $6
  System::Call 'kernel32::CloseHandle(p r8)'
  System::Call 'kernel32::WaitForSingleObject(p r7, i ${HELPER_TIMEOUT_MS}) i .r4'
  ${If} $4 == ${WAIT_TIMEOUT}
    System::Call 'kernel32::TerminateProcess(p r7, i 1)'
    System::Call 'kernel32::WaitForSingleObject(p r7, i 5000)'
    StrCpy $status "timeout"
  ${Else}
    System::Call 'kernel32::GetExitCodeProcess(p r7, *i .r4)'
    StrCpy $status $4
    ; A zeroed buffer one byte longer than what is read into it: the text
    ; always ends in NUL.
    System::Alloc ${OUTPUT_BYTES}
    Pop $5
    System::Call 'kernel32::ReadFile(p r2, p r5, i ${OUTPUT_READ}, *i .r4, p 0)'
    System::Call 'kernel32::MultiByteToWideChar(i 65001, i 0, p r5, i -1, w .r8, i ${NSIS_MAX_STRLEN})'
    StrCpy $message $8
    System::Free $5
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r7)'
  System::Call 'kernel32::CloseHandle(p r2)'
done:
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; -Directory with the context's installation directory.
Function DirectoryArgument
  Push $0
  !insertmacro QUOTE_PATH $directory $0
  StrCpy $0 "-Directory $0"
  Exch $0
FunctionEnd

!macro RUN_MIGRATION_ACTION action
  Call DirectoryArgument
  Pop $R9
  !insertmacro RUN_HELPER ${action} $R9
!macroend

; ---- Ending ----

; Shows MESSAGE (in a silent run: only writes it to /REPORT=FILE) and ends
; setup with STATUS.
!macro FINISH status message
  Push "${message}"
  Push "${status}"
  Call Finish
!macroend

Function Finish
  Pop $1  ; status
  Pop $0  ; message
  DetailPrint "$0"
  ${If} $report_file != ""
    ClearErrors
    FileOpen $2 $report_file w
    ${IfNot} ${Errors}
      FileWriteWord $2 65279  ; FF FE
      FileWriteUTF16LE $2 "$0$\r$\n"
      FileClose $2
    ${EndIf}
  ${EndIf}
  ${If} $1 == 0
    MessageBox MB_OK|MB_ICONINFORMATION "$0" /SD IDOK
  ${Else}
    MessageBox MB_OK|MB_ICONSTOP "$0" /SD IDOK
  ${EndIf}
  SetErrorLevel $1
  Quit
FunctionEnd

; ---- The context file ----

; Reads the fields setup needs from the context file: UTF-16LE after the
; byte-order mark FF FE, "[context]", then key=value lines ending in CR LF.
; Values are taken exactly (no trimming): a path may end with a space.
Function ReadContext
  ClearErrors
  FileOpen $0 $context_file r
  ${If} ${Errors}
    !insertmacro FINISH 1 "Setup cannot read the installer context $context_file."
  ${EndIf}
  FileReadWord $0 $1
  ${If} $1 <> 65279  ; FF FE
    FileClose $0
    !insertmacro FINISH 1 "The installer context is not UTF-16LE text."
  ${EndIf}
  ${Do}
    ClearErrors
    FileReadUTF16LE $0 $1
    ${IfThen} ${Errors} ${|} ${ExitDo} ${|}
    StrCpy $2 $1 2 -2
    ${IfThen} $2 == "$\r$\n" ${|} StrCpy $1 $1 -2 ${|}
    ; StrCpy with a length takes the key's part; S== compares with case.
    StrCpy $2 $1 10
    ${IfThen} $2 S== "directory=" ${|} StrCpy $directory $1 "" 10 ${|}
    StrCpy $2 $1 6
    ${IfThen} $2 S== "scope=" ${|} StrCpy $scope $1 "" 6 ${|}
    StrCpy $2 $1 4
    ${IfThen} $2 S== "sid=" ${|} StrCpy $sid $1 "" 4 ${|}
    StrCpy $2 $1 7
    ${IfThen} $2 S== "legacy=" ${|} StrCpy $legacy $1 "" 7 ${|}
    StrCpy $2 $1 8
    ${IfThen} $2 S== "elevate=" ${|} StrCpy $elevate $1 "" 8 ${|}
  ${Loop}
  FileClose $0
  ${If} $directory == ""
  ${OrIf} $sid == ""
  ${OrIf} $scope == ""
  ${OrIf} $legacy == ""
  ${OrIf} $elevate == ""
    !insertmacro FINISH 1 "The installer context lacks a field setup needs."
  ${EndIf}
FunctionEnd

; ---- Setup's own step ----

; The launcher's registration, in the context's scope: HKEY_USERS below the
; original user's SID (never HKEY_CURRENT_USER, which is the elevated
; account's when setup was elevated), or HKEY_LOCAL_MACHINE. Only REG_SZ and
; REG_DWORD values, and no subkeys: a later rollback must be able to restore
; these keys. Sets the error flag when a write fails.
!define LAUNCHER_KEY "Software\Quillmora\Quillmora Launcher"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillmora Launcher"
!macro WRITE_REGISTRATION root prefix
  WriteRegStr ${root} "${prefix}${LAUNCHER_KEY}" "" "$directory"
  WriteRegStr ${root} "${prefix}${LAUNCHER_KEY}" "Version" "2.0.0"
  WriteRegStr ${root} "${prefix}${UNINSTALL_KEY}" "DisplayName" "Quillmora Launcher"
  WriteRegStr ${root} "${prefix}${UNINSTALL_KEY}" "DisplayVersion" "2.0.0"
  WriteRegStr ${root} "${prefix}${UNINSTALL_KEY}" "InstallLocation" "$directory"
  WriteRegStr ${root} "${prefix}${UNINSTALL_KEY}" "UninstallString" '"$directory\uninstall.exe"'
!macroend

; The new binaries replace the older ones (the helper's begin stopped the
; launcher's processes), then the registration is written. Sets $0 to an
; empty text on success, else to what went wrong.
Function InstallLauncher
  StrCpy $0 ""
  ClearErrors
  CopyFiles /SILENT "$PLUGINSDIR\payload\Quillmora Launcher.exe" "$directory"
  ${If} ${Errors}
    StrCpy $0 "Cannot replace Quillmora Launcher.exe."
    Return
  ${EndIf}
  ${If} $fail_step == 1
    StrCpy $0 "Setup's own step failed (/FAILSTEP)."
    Return
  ${EndIf}
  ClearErrors
  CopyFiles /SILENT "$PLUGINSDIR\payload\QuillmoraClientServices.exe" "$directory"
  CopyFiles /SILENT "$PLUGINSDIR\payload\uninstall.exe" "$directory"
  ${If} ${Errors}
    StrCpy $0 "Cannot replace the launcher's binaries."
    Return
  ${EndIf}
  SetRegView 64
  ClearErrors
  ${If} $scope S== "machine"
    !insertmacro WRITE_REGISTRATION HKLM ""
  ${Else}
    !insertmacro WRITE_REGISTRATION HKU "$sid\"
  ${EndIf}
  ${If} ${Errors}
    StrCpy $0 "Cannot write the launcher's registration in $registry_root."
  ${EndIf}
FunctionEnd

; ---- The migration ----

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REPORT=" $report_file
  ${IfThen} ${Errors} ${|} StrCpy $report_file "" ${|}
  ClearErrors
  ${GetOptions} $0 "/FAILSTEP" $1
  ${If} ${Errors}
    StrCpy $fail_step 0
  ${Else}
    StrCpy $fail_step 1
  ${EndIf}
FunctionEnd

Section "Quillmora Launcher"
  InitPluginsDir
  SetOutPath "$PLUGINSDIR\payload"
  File "${PAYLOAD_DIR}\Quillmora Launcher.exe"
  File "${PAYLOAD_DIR}\QuillmoraClientServices.exe"
  File "${PAYLOAD_DIR}\uninstall.exe"
  SetOutPath $PLUGINSDIR
  File "/oname=installer-helper.exe" "${HELPER_EXE}"
  StrCpy $helper "$PLUGINSDIR\installer-helper.exe"
  StrCpy $context_file "$PLUGINSDIR\context.ini"

  ; context: for the original user; -Directory only when /D= chose one.
  StrCpy $R0 ""
  ${If} $INSTDIR != ""
    !insertmacro QUOTE_PATH $INSTDIR $R0
    StrCpy $R0 "-Directory $R0"
  ${EndIf}
  !insertmacro RUN_HELPER context $R0
  ${If} $status != 0
    !insertmacro FINISH 1 "Setup cannot prepare the installation: $message"
  ${EndIf}
  Call ReadContext
  ${If} $scope S== "machine"
    StrCpy $registry_root "HKLM"
  ${Else}
    StrCpy $registry_root "HKU\$sid"
  ${EndIf}
  ; elevate=1 means this process lacks what the installation needs (an
  ; elevated helper always answers 0). A full setup would start itself again
  ; with "runas", passing -OriginalSid and -OriginalTemp of this context on.
  ${If} $elevate == 1
    !insertmacro FINISH ${ERROR_ELEVATION_REQUIRED} \
      "Setup must be run again as administrator to install into $directory."
  ${EndIf}
  ${If} $legacy == 1
    DetailPrint "Migrating the older installation in $directory"
  ${EndIf}

  ; begin: a transaction also over a new installation, so that a failed step
  ; leaves no half-installed launcher behind.
  CreateDirectory $directory
  !insertmacro RUN_MIGRATION_ACTION begin
  ${If} $status != 0
    ; Setup changed nothing yet; what begin left, the next begin settles.
    !insertmacro FINISH 1 "Setup could not begin the migration: $message"
  ${EndIf}

  Call InstallLauncher
  ${If} $0 != ""
    StrCpy $R1 $0
    Call RollBack
  ${EndIf}

  !insertmacro RUN_MIGRATION_ACTION commit
  ${If} $status == 2
    !insertmacro FINISH 2 "The Quillmora Launcher is installed, but the older installation was not fully removed: $message The next run of setup finishes it."
  ${ElseIf} $status != 0
    ; Not committed: the journal is still prepared, so undo setup's step.
    StrCpy $R1 "Setup could not commit the migration: $message"
    Call RollBack
  ${EndIf}
  !insertmacro FINISH 0 "The Quillmora Launcher is installed in $directory."
SectionEnd

; Undoes setup's step after $R1 went wrong, and ends setup. A rollback that
; fails leaves the transaction for the next run; setup must not commit then.
Function RollBack
  !insertmacro RUN_MIGRATION_ACTION rollback
  ${If} $status == 0
    !insertmacro FINISH 1 "$R1 The previous installation was restored."
  ${ElseIf} $status == ${ERROR_ELEVATION_REQUIRED}
    !insertmacro FINISH ${ERROR_ELEVATION_REQUIRED} "$R1 Restoring the previous installation needs administrator permission: run setup again as administrator. ($message)"
  ${EndIf}
  !insertmacro FINISH 1 "$R1 The previous installation could not be restored yet: $message Run setup again to restore it."
FunctionEnd
