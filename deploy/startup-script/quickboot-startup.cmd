@echo off
rem Group Policy computer start-up script: brings quickboot.exe's quick-boot switch to the desired
rem state. Reads first, limited in time, and writes ("/1" or "/0") only on drift. The read is the
rem diagnostic companion's where it is installed (it limits the library itself and needs no
rem PowerShell), otherwise quickboot.exe /g through Windows PowerShell. The write is waited for
rem at most WRITE_SECONDS and never ended. Every run prints one status line,
rem "<outcome>: <cause>: <reason> | manufacturer=...; model=...; firmware=...; firmware_date=...;
rem quickboot=...", and leaves it in the Application event log (source quickboot), since nothing
rem else keeps what a start-up script did: an Information event when the switch is (now) in the
rem desired state (ID 11 compliant, ID 10 repaired), an Error event with one ID for each kind of
rem failure (see README.md).
rem Exit codes: 0 the switch is (now) in the desired state; 1 it could not be read or changed.
setlocal EnableExtensions DisableDelayedExpansion
rem Nothing taken over from the caller's environment: the failure's kind is set where it is known.
set "KIND="
set "CAUSE="

rem ---- Settings ---------------------------------------------------------------------------------
rem The desired state: 1 = quick boot on, 0 = quick boot off.
set "DESIRED=1"
rem The program folder, a full path. Empty: the folder the installer records (HKLM\SOFTWARE\quickboot,
rem InstallDir), else %ProgramW6432%\quickboot; nothing else is ever guessed.
set "QUICKBOOT_DIR="
rem The longest the read may take, in seconds; past it the read is ended.
set "READ_SECONDS=20"
rem How long to wait for the write, in seconds; past it the write is left to finish (a write cut
rem off halfway could leave any state) and the script ends with an error. Keep it below Group
rem Policy's maximum wait time for scripts.
set "WRITE_SECONDS=300"
rem The system programs, by full path: a bare name is looked up in the current folder first.
set "POWERSHELL=%SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe"
set "EVENTCREATE=%SystemRoot%\System32\eventcreate.exe"
set "REG=%SystemRoot%\System32\reg.exe"
rem -----------------------------------------------------------------------------------------------

call :hardware
if "%DESIRED%"=="1" (set "DESIRED_NAME=on") else if "%DESIRED%"=="0" (set "DESIRED_NAME=off") else (
  set "CAUSE=bad_setting"
  set "REASON=DESIRED must be 0 or 1"
  goto failed
)
call :find_folder
if defined CAUSE goto failed
set "QUICKBOOT=%FOLDER%quickboot.exe"
if not exist "%QUICKBOOT%" (
  set "CAUSE=not_installed"
  set "REASON=quickboot.exe not found: %QUICKBOOT% (the folder from %FROM%)"
  goto failed
)
set "DIAGNOSTIC=%FOLDER%quickboot-diag.exe"
rem The programs run in their own folder, never in whatever folder the script was started in.
cd /d "%FOLDER%"

set "SWITCH=/g"
set "RUN_EXIT="
set "RUN_LINE="
set "COMPANION_EXIT="
if exist "%DIAGNOSTIC%" call :companion
rem An older companion (a usage error, 2) or none: quickboot.exe /g through PowerShell.
if "%RUN_EXIT%"=="" set "RUN_EXIT=2"
if "%RUN_EXIT%"=="2" call :run_limited /g 1 %READ_SECONDS%
if "%RUN_EXIT%"=="timeout" (
  set "CAUSE=timed_out"
  set "REASON=quickboot.exe /g did not answer within %READ_SECONDS% seconds and was ended"
  goto failed
)
call :check_run
if defined CAUSE goto failed
if "%RUN_EXIT%"=="%DESIRED%" (
  set "REASON=quick boot is %DESIRED_NAME%"
  call :report compliant quick_boot_%DESIRED_NAME% INFORMATION 11
  exit /b 0
)
if not "%RUN_EXIT%"=="0" if not "%RUN_EXIT%"=="1" goto explain

set "SWITCH=/%DESIRED%"
call :run_limited /%DESIRED% 0 %WRITE_SECONDS%
if "%RUN_EXIT%"=="still_running" (
  set "CAUSE=write_still_running"
  set "REASON=quickboot.exe /%DESIRED% did not end within %WRITE_SECONDS% seconds; it was left running, since a write cut off halfway could leave any state"
  goto failed
)
call :check_run
if defined CAUSE goto failed
if not "%RUN_EXIT%"=="0" goto explain
set "REASON=quick boot switched %DESIRED_NAME%"
call :report repaired quick_boot_%DESIRED_NAME% INFORMATION 10
exit /b 0

:explain
rem quickboot.exe %SWITCH% answered RUN_EXIT, none of its answers. A companion's verdict is the
rem reason when the companion itself failed (it was the read, or it fails now); after it read
rem the state, it only follows the failing call.
set "CODE=%RUN_EXIT%"
if "%CODE%"=="100" (
  set "CAUSE=control_library_failed"
  set "REASON=quickboot.exe %SWITCH% answered 100: the control library could not be located, loaded or called"
) else (
  set "CAUSE=unexpected_exit_code"
  set "REASON=quickboot.exe %SWITCH% answered %CODE%: none of its answers; the control library may have ended the process"
)
set "KIND=%CAUSE%"
if "%SWITCH%"=="/g" if defined RUN_LINE if not "%COMPANION_EXIT%"=="2" goto companion_reason
if exist "%DIAGNOSTIC%" call :companion
if not defined RUN_LINE goto failed
if "%COMPANION_EXIT%"=="2" goto failed
if "%COMPANION_EXIT%"=="0" (set "REASON=%REASON%; %RUN_LINE%") else if "%COMPANION_EXIT%"=="1" (
  set "REASON=%REASON%; %RUN_LINE%"
) else goto companion_reason
goto failed

:companion_reason
rem The companion found the failure itself: its cause (the token after "quickboot-diag:") is the
rem cause and the rest of its verdict the reason; a number there is an older companion's exit
rem code, whose whole verdict is the reason.
set "REASON=%RUN_LINE%"
set "TOKEN="
for /f "tokens=2 delims=: " %%T in ("%RUN_LINE%") do set "TOKEN=%%T"
if defined TOKEN for %%D in (0 1 2 3 4 5 6 7 8 9) do if "%TOKEN:~0,1%"=="%%D" set "TOKEN="
if not defined TOKEN goto failed
set "CAUSE=%TOKEN%"
set "REASON="
for /f "tokens=2,* delims=: " %%A in ("%RUN_LINE%") do set "REASON=%%B"

:failed
rem The event ID tells the kind of failure, also when the companion names a finer cause.
if not defined KIND set "KIND=%CAUSE%"
set "EVENT_ID=1"
if "%KIND%"=="unexpected_exit_code" set "EVENT_ID=2"
if "%KIND%"=="timed_out" set "EVENT_ID=3"
if "%KIND%"=="write_still_running" set "EVENT_ID=4"
if "%KIND%"=="not_installed" set "EVENT_ID=5"
if "%KIND%"=="could_not_start" set "EVENT_ID=6"
if "%KIND%"=="bad_setting" set "EVENT_ID=7"
call :report error %CAUSE% ERROR %EVENT_ID%
exit /b 1

:report OUTCOME CAUSE TYPE ID
rem Prints the status line and leaves it as the event's text. The reason is cut at a blank, so
rem that the line stays within 2,048 characters.
rem (Only a start within the text: some cmd.exe read past its end for a start beyond it.)
set "CUT=%REASON:~0,1600%"
if defined REASON if not "%CUT%"=="%REASON%" call :cut_reason
set "LINE=%~1: %~2: %REASON% | manufacturer=%HW_MANUFACTURER%; model=%HW_MODEL%; firmware=%HW_FIRMWARE%; firmware_date=%HW_FIRMWARE_DATE%; quickboot=%HW_VERSION%"
setlocal EnableDelayedExpansion
echo !LINE!
"%EVENTCREATE%" /T %~3 /L APPLICATION /SO quickboot /ID %~4 /D "!LINE!" >nul 2>&1
endlocal
exit /b 0

:cut_reason
set "REASON=%REASON:~0,1597%"
:cut_reason_at_blank
if defined REASON if not "%REASON:~-1%"==" " (set "REASON=%REASON:~0,-1%" & goto cut_reason_at_blank)
set "REASON=%REASON%..."
exit /b 0

:find_folder
rem FOLDER (ending in a backslash) and FROM, where it came from; or CAUSE and REASON.
set "FOLDER="
if not defined QUICKBOOT_DIR goto installed_folder
set "FOLDER=%QUICKBOOT_DIR%"
set "FROM=QUICKBOOT_DIR"
call :full_path
if defined FOLDER goto folder_found
set "CAUSE=bad_setting"
set "REASON=QUICKBOOT_DIR is not a full path: %QUICKBOOT_DIR%"
exit /b 0
:installed_folder
set "FROM=HKLM\SOFTWARE\quickboot\InstallDir"
set "MISSING=HKLM\SOFTWARE\quickboot\InstallDir is missing"
call :registry_value "HKLM\SOFTWARE\quickboot" InstallDir FOLDER
if defined FOLDER set "MISSING=HKLM\SOFTWARE\quickboot\InstallDir is not a full path"
call :full_path
if defined FOLDER goto folder_found
set "FROM=ProgramW6432"
if not defined ProgramW6432 (
  set "CAUSE=not_installed"
  set "REASON=ProgramW6432 is not set and %MISSING%"
  exit /b 0
)
set "FOLDER=%ProgramW6432%\quickboot"
call :full_path
if defined FOLDER goto folder_found
set "CAUSE=not_installed"
set "REASON=ProgramW6432 is not a full path and %MISSING%"
exit /b 0
:folder_found
if not "%FOLDER:~-1%"=="\" set "FOLDER=%FOLDER%\"
exit /b 0

:full_path
rem Empties FOLDER unless it is a full path: a drive's root and more, or a share (\\server\...).
if "%FOLDER:~1,2%"==":\" exit /b 0
if "%FOLDER:~0,2%"=="\\" exit /b 0
set "FOLDER="
exit /b 0

:registry_value KEY NAME VARIABLE
rem VARIABLE becomes the string value NAME of KEY in the 64-bit view, or nothing.
set "%~3="
for /f "tokens=2,*" %%A in ('^""%REG%" query "%~1" /v %~2 /reg:64 2^>nul^"') do (
  if "%%A"=="REG_SZ" set "%~3=%%B"
  if "%%A"=="REG_EXPAND_SZ" set "%~3=%%B"
  if "%%A"=="REG_MULTI_SZ" set "%~3=%%B"
)
exit /b 0

:hardware
rem The status line's fields: the firmware's description as the registry holds it, and the
rem version the installer records.
call :field "HKLM\HARDWARE\DESCRIPTION\System\BIOS" SystemManufacturer HW_MANUFACTURER
call :field "HKLM\HARDWARE\DESCRIPTION\System\BIOS" SystemProductName HW_MODEL
call :field "HKLM\HARDWARE\DESCRIPTION\System\BIOS" BIOSVersion HW_FIRMWARE
call :field "HKLM\HARDWARE\DESCRIPTION\System\BIOS" BIOSReleaseDate HW_FIRMWARE_DATE
call :field "HKLM\SOFTWARE\quickboot" Version HW_VERSION
exit /b 0

:field KEY NAME VARIABLE
rem A field of the status line: tabs, the separators ; and | and the \0 that reg shows between
rem the strings of a list become blanks (and a double quote, which would end the event's text,
rem an apostrophe); then trimmed and cut to 64 characters.
call :registry_value %1 %2 VALUE
set "%~3="
if not defined VALUE exit /b 0
set "VALUE=%VALUE:"='%"
set "VALUE=%VALUE:	= %"
set "VALUE=%VALUE:;= %"
set "VALUE=%VALUE:|= %"
set "VALUE=%VALUE:\0= %"
:field_trim_start
if defined VALUE if "%VALUE:~0,1%"==" " (set "VALUE=%VALUE:~1%" & goto field_trim_start)
:field_trim_end
if defined VALUE if "%VALUE:~-1%"==" " (set "VALUE=%VALUE:~0,-1%" & goto field_trim_end)
if defined VALUE set "%~3=%VALUE:~0,64%"
exit /b 0

:check_run
rem Sets CAUSE and REASON when the last run did not give an exit code.
set "CAUSE="
if "%RUN_EXIT%"=="error" (
  set "CAUSE=could_not_start"
  set "REASON=quickboot.exe %SWITCH% could not be started: %QUICKBOOT%"
)
if not defined RUN_EXIT (
  set "CAUSE=could_not_start"
  set "REASON=Windows PowerShell did not run quickboot.exe %SWITCH%: %POWERSHELL%"
)
exit /b 0

:companion
rem Runs the companion's read, which limits the control library itself: RUN_EXIT and
rem COMPANION_EXIT become its exit code (what quickboot.exe /g answers; 2 for a usage error),
rem RUN_LINE its verdict.
set "RUN_EXIT="
set "RUN_LINE="
for /f "tokens=1,*" %%A in ('^""%DIAGNOSTIC%" --quiet --timeout %READ_SECONDS% 2^>nul ^& call echo exit %%^^ERRORLEVEL%%^"') do (
  if "%%A"=="exit" set "RUN_EXIT=%%B"
  if "%%A"=="quickboot-diag:" if not defined RUN_LINE set "RUN_LINE=%%A %%B"
)
set "COMPANION_EXIT=%RUN_EXIT%"
rem A double quote would end the event text early.
if defined RUN_LINE set "RUN_LINE=%RUN_LINE:"='%"
exit /b 0

:run_limited SWITCH END SECONDS
rem Runs quickboot.exe SWITCH through Windows PowerShell and waits at most SECONDS for it. Past
rem that it is ended when END is 1 (RUN_EXIT "timeout"), and left running when END is 0 (RUN_EXIT
rem "still_running"; it is started through the shell, so that it holds none of this script's
rem handles). Otherwise RUN_EXIT is its exit code, "error" when it could not be started, nothing
rem when PowerShell did not run.
set "RUN_EXIT="
set "QB_RUN=%QUICKBOOT%"
set "QB_ARGUMENTS=%~1"
set "QB_END=%~2"
set "QB_SECONDS=%~3"
set "PS_RUN=$ErrorActionPreference = 'Stop'; try { $info = New-Object System.Diagnostics.ProcessStartInfo;"
set "PS_RUN=%PS_RUN% $info.FileName = $env:QB_RUN; $info.Arguments = $env:QB_ARGUMENTS;"
set "PS_RUN=%PS_RUN% $info.WorkingDirectory = Split-Path -Parent $env:QB_RUN;"
set "PS_RUN=%PS_RUN% if ($env:QB_END -eq '1') { $info.UseShellExecute = $false; $info.CreateNoWindow = $true }"
set "PS_RUN=%PS_RUN% else { $info.UseShellExecute = $true; $info.WindowStyle = 'Hidden' };"
set "PS_RUN=%PS_RUN% $process = [System.Diagnostics.Process]::Start($info);"
set "PS_RUN=%PS_RUN% if ($process.WaitForExit(1000 * $env:QB_SECONDS)) { 'exit ' + $process.ExitCode }"
set "PS_RUN=%PS_RUN% elseif ($env:QB_END -eq '1') { try { $process.Kill() } catch { }; 'exit timeout' }"
set "PS_RUN=%PS_RUN% else { 'exit still_running' } } catch { 'exit error' }"
for /f "tokens=1,*" %%A in ('^""%POWERSHELL%" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command "%PS_RUN%"^" 2^>nul') do (
  if "%%A"=="exit" set "RUN_EXIT=%%B"
)
exit /b 0
