@echo off
rem Group Policy computer start-up script: brings quickboot.exe's quick-boot switch to the desired
rem state. Reads first ("/g", limited in time) and writes ("/1" or "/0", never limited) only on
rem drift. On failure it prints the reason and leaves it in the Application event log (source
rem quickboot, event 1), since nothing else keeps what a start-up script did.
rem Exit codes: 0 the switch is (now) in the desired state; 1 it could not be read or changed.
setlocal EnableExtensions DisableDelayedExpansion

rem ---- Settings ---------------------------------------------------------------------------------
rem The desired state: 1 = quick boot on, 0 = quick boot off.
set "DESIRED=1"
rem Where quickboot.exe is installed. ProgramW6432 names the 64-bit Program Files folder, also in
rem a 32-bit cmd.exe.
set "QUICKBOOT=%ProgramW6432%\quickboot\quickboot.exe"
rem The longest the read ("/g") and the diagnostic report may take, in seconds.
set "READ_SECONDS=20"
rem Windows PowerShell, which runs the read with that time limit (cmd.exe cannot).
set "POWERSHELL=%SystemRoot%\System32\WindowsPowerShell\v1.0\powershell.exe"
rem -----------------------------------------------------------------------------------------------

if "%DESIRED%"=="1" (set "DESIRED_NAME=on") else if "%DESIRED%"=="0" (set "DESIRED_NAME=off") else (
  set "REASON=DESIRED must be 0 or 1"
  goto failed
)
if not exist "%QUICKBOOT%" (
  set "REASON=quickboot.exe not found: %QUICKBOOT%"
  goto failed
)
for %%F in ("%QUICKBOOT%") do set "DIAGNOSTIC=%%~dpFquickboot-diag.exe"

set "SWITCH=/g"
call :run_limited "%QUICKBOOT%" /g
if "%RUN_EXIT%"=="timeout" (
  set "REASON=quickboot.exe /g did not answer within %READ_SECONDS% seconds and was ended"
  goto failed
)
if "%RUN_EXIT%"=="error" (
  set "REASON=quickboot.exe /g could not be started: %QUICKBOOT%"
  goto failed
)
if not defined RUN_EXIT (
  set "REASON=Windows PowerShell did not run quickboot.exe /g: %POWERSHELL%"
  goto failed
)
if "%RUN_EXIT%"=="%DESIRED%" exit /b 0
set "CODE=%RUN_EXIT%"
if not "%CODE%"=="0" if not "%CODE%"=="1" goto explain

rem In a script, cmd.exe waits for a GUI program such as quickboot.exe to end: the write runs to
rem its end, however long it takes.
set "SWITCH=/%DESIRED%"
"%QUICKBOOT%" /%DESIRED%
set "CODE=%ERRORLEVEL%"
if not "%CODE%"=="0" goto explain
echo quick boot switched %DESIRED_NAME%
exit /b 0

:explain
rem The reason is the diagnostic companion's verdict where it is installed, otherwise the code.
set "REASON="
if exist "%DIAGNOSTIC%" call :run_limited "%DIAGNOSTIC%" ""
if exist "%DIAGNOSTIC%" if defined RUN_LINE set "REASON=%RUN_LINE%"
if defined REASON goto failed
if "%CODE%"=="100" (
  set "REASON=quickboot.exe %SWITCH% answered 100: the control library could not be located, loaded or called"
) else (
  set "REASON=quickboot.exe %SWITCH% answered %CODE%: none of its answers; the control library may have ended the process"
)

:failed
rem One line for whoever reads the output and one event, since nothing else records the failure.
set "REASON=%REASON:~0,300%"
setlocal EnableDelayedExpansion
echo !REASON!
eventcreate /T ERROR /L APPLICATION /SO quickboot /ID 1 /D "!REASON!" >nul 2>&1
exit /b 1

:run_limited PROGRAM ARGUMENTS
rem Runs PROGRAM with ARGUMENTS through Windows PowerShell for at most READ_SECONDS seconds. Sets
rem RUN_EXIT to its exit code ("timeout" when it had to be ended, "error" when it could not be
rem started, nothing when PowerShell did not run) and RUN_LINE to the first line it printed.
set "RUN_EXIT="
set "RUN_LINE="
set "QB_RUN=%~1"
set "QB_ARGUMENTS=%~2"
set "QB_SECONDS=%READ_SECONDS%"
set "RUN_LIMITED=$ErrorActionPreference = 'Stop'; try { $info = New-Object System.Diagnostics.ProcessStartInfo;"
set "RUN_LIMITED=%RUN_LIMITED% $info.FileName = $env:QB_RUN; $info.Arguments = $env:QB_ARGUMENTS;"
set "RUN_LIMITED=%RUN_LIMITED% $info.UseShellExecute = $false; $info.CreateNoWindow = $true;"
set "RUN_LIMITED=%RUN_LIMITED% $info.RedirectStandardOutput = $true;"
set "RUN_LIMITED=%RUN_LIMITED% $process = [System.Diagnostics.Process]::Start($info);"
set "RUN_LIMITED=%RUN_LIMITED% $output = $process.StandardOutput.ReadToEndAsync();"
set "RUN_LIMITED=%RUN_LIMITED% if ($process.WaitForExit(1000 * $env:QB_SECONDS)) {"
set "RUN_LIMITED=%RUN_LIMITED% if ($output.Wait(5000)) { $line = ($output.Result -split [char]10)[0].Trim();"
set "RUN_LIMITED=%RUN_LIMITED% if ($line) { 'line ' + $line } }; 'exit ' + $process.ExitCode"
set "RUN_LIMITED=%RUN_LIMITED% } else { try { $process.Kill() } catch { }; 'exit timeout' } } catch { 'exit error' }"
for /f "tokens=1,*" %%A in ('^""%POWERSHELL%" -NoProfile -NonInteractive -ExecutionPolicy Bypass -Command "%RUN_LIMITED%"^" 2^>nul') do (
  if "%%A"=="exit" set "RUN_EXIT=%%B"
  if "%%A"=="line" if not defined RUN_LINE set "RUN_LINE=%%B"
)
rem A double quote would end the event text early.
if defined RUN_LINE set "RUN_LINE=%RUN_LINE:"='%"
exit /b 0
