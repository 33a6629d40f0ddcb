; Tarnovid's programs running from the folder that the uninstaller removes or the installer
; overwrites. Windows refuses to delete or replace a program file while it runs: the uninstaller
; would leave the program and its folder behind, the installer would stop on a write error.
; Both therefore end those programs first, asking first when someone is there to answer; a silent
; run (/S) ends them without asking, since no one could answer a question.
; Only our own programs in $INSTDIR\bin (tarnovid*.exe) are touched: a copy unpacked from the zip
; elsewhere keeps running, and so does anything else in a folder someone chose to install into.

!include LogicLib.nsh
!include WinMessages.nsh

!define TARNOVID_SNAPPROCESS 0x2
; SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE
!define TARNOVID_PROCESS_ACCESS 0x101001
; sizeof(PROCESSENTRY32W) in a 64-bit process; the process ID is its third 32-bit field.
!define TARNOVID_PROCESSENTRY_SIZE 568
; How long a program gets to close its window before it is ended outright.
!define TARNOVID_CLOSE_WAIT_MS 5000

Var TarnovidFound ; how many of our programs the last look found running

!macro TARNOVID_RUNNING_PROGRAMS UN

; Ends the process (handle, then process ID, on the stack) the way the user would: its visible
; windows are asked to close, and it is ended outright only if it does not within the wait, or has
; no window to ask (tarnovidctl, or the window on the offscreen platform).
Function ${UN}TarnovidEndProcess
  System::Store S
  Pop $0 ; process ID
  Pop $1 ; process handle
  StrCpy $2 0 ; windows asked to close
  StrCpy $3 0
  ${Do}
    FindWindow $3 "" "" 0 $3
    ${If} $3 P= 0
      ${ExitDo}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p r3, *i .r4)'
    System::Call 'user32::IsWindowVisible(p r3) i .r5'
    ${If} $4 = $0
    ${AndIf} $5 <> 0
      System::Call 'user32::PostMessageW(p r3, i ${WM_CLOSE}, p 0, p 0)'
      IntOp $2 $2 + 1
    ${EndIf}
  ${Loop}
  StrCpy $6 1 ; WAIT_OBJECT_0 (0) once it has ended
  ${If} $2 > 0
    System::Call 'kernel32::WaitForSingleObject(p r1, i ${TARNOVID_CLOSE_WAIT_MS}) i .r6'
  ${EndIf}
  ${If} $6 <> 0
    System::Call 'kernel32::TerminateProcess(p r1, i 1)'
    ; Its files stay locked until it is gone.
    System::Call 'kernel32::WaitForSingleObject(p r1, i ${TARNOVID_CLOSE_WAIT_MS})'
  ${EndIf}
  System::Store L
FunctionEnd

; Looks through the running processes for our programs in $INSTDIR\bin and counts them into
; $TarnovidFound; with "end" on the stack it also ends each, with "count" it only counts.
Function ${UN}TarnovidLookForRunning
  System::Store S
  Pop $9
  StrCpy $TarnovidFound 0
  StrCpy $8 "$INSTDIR\bin\tarnovid"
  StrLen $7 $8
  ; The uninstaller may run from $INSTDIR itself (an update runs the old one in place).
  System::Call 'kernel32::GetCurrentProcessId() i .R0'
  System::Call 'kernel32::CreateToolhelp32Snapshot(i ${TARNOVID_SNAPPROCESS}, i 0) p .r0'
  ${If} $0 P<> -1
    System::Alloc ${TARNOVID_PROCESSENTRY_SIZE}
    Pop $1
    System::Call '*$1(i ${TARNOVID_PROCESSENTRY_SIZE})' ; dwSize
    System::Call 'kernel32::Process32FirstW(p r0, p r1) i .r2'
    ${DoWhile} $2 <> 0
      System::Call '*$1(i, i, i .r3)'
      StrCpy $4 0
      ${If} $3 <> $R0
        System::Call 'kernel32::OpenProcess(i ${TARNOVID_PROCESS_ACCESS}, i 0, i r3) p .r4'
      ${EndIf}
      ${If} $4 P<> 0
        StrCpy $5 ""
        System::Call 'kernel32::QueryFullProcessImageNameW(p r4, i 0, w .r5, *i ${NSIS_MAX_STRLEN})'
        StrCpy $6 $5 $7
        ${If} $6 == $8 ; case-insensitive, as Windows' paths are
          IntOp $TarnovidFound $TarnovidFound + 1
          ${If} $9 == "end"
            Push $4
            Push $3
            Call ${UN}TarnovidEndProcess
          ${EndIf}
        ${EndIf}
        System::Call 'kernel32::CloseHandle(p r4)'
      ${EndIf}
      System::Call 'kernel32::Process32NextW(p r0, p r1) i .r2'
    ${Loop}
    System::Free $1
    System::Call 'kernel32::CloseHandle(p r0)'
  ${EndIf}
  System::Store L
FunctionEnd

; Before anything under $INSTDIR is removed or replaced: ends our programs running from there, or
; stops the (un)installation if the user says no or one of them cannot be ended.
Function ${UN}TarnovidCloseRunning
  Push count
  Call ${UN}TarnovidLookForRunning
  ${If} $TarnovidFound > 0
    MessageBox MB_OKCANCEL|MB_ICONEXCLAMATION \
      "$(^Name) is running from $INSTDIR.$\n$\nChoose OK to close it and go on, or Cancel to stop." \
      /SD IDOK IDOK close
    Abort "$(^Name) is still running."
  close:
    DetailPrint "Closing $(^Name)"
    Push end
    Call ${UN}TarnovidLookForRunning
    Push count
    Call ${UN}TarnovidLookForRunning
    ${If} $TarnovidFound > 0
      MessageBox MB_OK|MB_ICONSTOP "$(^Name) could not be closed. Close it, then try again." /SD IDOK
      Abort "$(^Name) could not be closed."
    ${EndIf}
  ${EndIf}
FunctionEnd

!macroend

!insertmacro TARNOVID_RUNNING_PROGRAMS ""
!insertmacro TARNOVID_RUNNING_PROGRAMS "un."
