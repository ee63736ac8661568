@echo off
rem Group Policy computer start-up script: brings quickboot.exe's quick-boot switch to the desired
rem state. Reads first, limited in time, and writes ("/1" or "/0") only on drift. The read is the
rem diagnostic companion's where it is installed (it limits the library itself and needs no
rem PowerShell), otherwise quickboot.exe /g through Windows PowerShell. The write is waited for
rem at most WRITE_SECONDS and never ended. Prints one line, "repaired: ..." or
rem "error: <cause>: <reason>", and leaves it in the Application event log (source quickboot),
rem since nothing else keeps what a start-up script did: an Information event (ID 10) on a change,
rem an Error event with one ID for each kind of failure (see README.md).
rem Exit codes: 0 the switch is (now) in the desired state; 1 it could not be read or changed.
setlocal EnableExtensions DisableDelayedExpansion
rem Nothing taken over from the caller's environment: the failure's kind is set where it is known.
set "KIND="

rem ---- Settings ---------------------------------------------------------------------------------
rem The desired state: 1 = quick boot on, 0 = quick boot off.
set "DESIRED=1"
rem Where quickboot.exe is installed. ProgramW6432 names the 64-bit Program Files folder, also in
rem a 32-bit cmd.exe.
set "QUICKBOOT=%ProgramW6432%\quickboot\quickboot.exe"
rem The longest the read may take, in seconds; past it the read is ended.
set "READ_SECONDS=20"
rem How long to wait for the write, in seconds; past it the write is left to finish (a write cut
rem off halfway could leave any state) and the script ends with an error. Keep it below Group
rem Policy's maximum wait time for scripts.
set "WRITE_SECONDS=300"
rem The system programs, by full path: a bare name is looked up in the current folder first.
set "POWERSHELL=%SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe"
set "EVENTCREATE=%SystemRoot%\System32\eventcreate.exe"
rem -----------------------------------------------------------------------------------------------

if "%DESIRED%"=="1" (set "DESIRED_NAME=on") else if "%DESIRED%"=="0" (set "DESIRED_NAME=off") else (
  set "CAUSE=bad_setting"
  set "REASON=DESIRED must be 0 or 1"
  goto failed
)
if not exist "%QUICKBOOT%" (
  set "CAUSE=not_installed"
  set "REASON=quickboot.exe not found: %QUICKBOOT%"
  goto failed
)
rem The programs run in their own folder, never in whatever folder the script was started in.
for %%F in ("%QUICKBOOT%") do set "FOLDER=%%~dpF"
set "DIAGNOSTIC=%FOLDER%quickboot-diag.exe"
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
if "%RUN_EXIT%"=="%DESIRED%" exit /b 0
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
echo repaired: quick boot switched %DESIRED_NAME%
"%EVENTCREATE%" /T INFORMATION /L APPLICATION /SO quickboot /ID 10 /D "repaired: quick boot switched %DESIRED_NAME%" >nul 2>&1
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
rem The companion found the failure itself: its verdict is the reason, and its cause (the token
rem after "quickboot-diag:") the cause; a number there is an older companion's exit code.
set "REASON=%RUN_LINE%"
set "TOKEN="
for /f "tokens=2 delims=: " %%T in ("%RUN_LINE%") do set "TOKEN=%%T"
if defined TOKEN for %%D in (0 1 2 3 4 5 6 7 8 9) do if "%TOKEN:~0,1%"=="%%D" set "TOKEN="
if defined TOKEN set "CAUSE=%TOKEN%"

:failed
rem One line for whoever reads the output and one event, since nothing else records the failure.
rem The event ID tells the kind of failure, also when the companion names a finer cause.
if not defined KIND set "KIND=%CAUSE%"
set "EVENT_ID=1"
if "%KIND%"=="unexpected_exit_code" set "EVENT_ID=2"
if "%KIND%"=="timed_out" set "EVENT_ID=3"
if "%KIND%"=="write_still_running" set "EVENT_ID=4"
if "%KIND%"=="not_installed" set "EVENT_ID=5"
if "%KIND%"=="could_not_start" set "EVENT_ID=6"
if "%KIND%"=="bad_setting" set "EVENT_ID=7"
set "LINE=error: %CAUSE%: %REASON%"
set "LINE=%LINE:~0,300%"
setlocal EnableDelayedExpansion
echo !LINE!
"%EVENTCREATE%" /T ERROR /L APPLICATION /SO quickboot /ID %EVENT_ID% /D "!LINE!" >nul 2>&1
exit /b 1

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
