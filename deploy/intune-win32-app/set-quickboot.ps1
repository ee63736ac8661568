# Intune Win32 app, install and uninstall command: brings quickboot.exe's quick-boot switch to
# -State 1 (on) or -State 0 (off). Reads first and writes only when the switch differs.
# Exit codes: 0 done; 100 quickboot.exe answered 100 (the control library could not be located,
# loaded or called); 1 any other failure. Prints at most one line, the reason of a failure.
#   powershell.exe -NoProfile -ExecutionPolicy Bypass -File .\set-quickboot.ps1 -State 1
param([int]$State = -1)

# ---- Settings -----------------------------------------------------------------------------------
# Where quickboot.exe is installed. ProgramW6432 names the 64-bit Program Files folder, also in a
# 32-bit PowerShell.
$Quickboot = "$env:ProgramW6432\quickboot\quickboot.exe"
# The longest the read ("/g") and the diagnostic report may take, in seconds. A write has no limit.
$ReadTimeoutSeconds = 20

# ---- The same in every quickboot script (keep it identical) -------------------------------------

# Starts a program with no window. Its output is read only when asked for (it then must be read,
# or a program that writes much would block). Not Start-Process: the process object it passes
# back can leave ExitCode empty.
function Start-Program([string]$Path, [string]$Arguments, [bool]$ReadOutput) {
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = $Path
    $info.Arguments = $Arguments
    $info.UseShellExecute = $false
    $info.CreateNoWindow = $true
    $info.RedirectStandardOutput = $ReadOutput
    return [System.Diagnostics.Process]::Start($info)
}

# Ends a program that overran its time; it may have ended meanwhile.
function Stop-Program($Process) {
    try { $Process.Kill() } catch { }
}

# The first line of the diagnostic companion's report, or '' where it is not installed beside
# quickboot.exe or says nothing within the time limit.
function Get-DiagnosticVerdict {
    $diagnostic = Join-Path (Split-Path -Parent $Quickboot) 'quickboot-diag.exe'
    if (-not (Test-Path -LiteralPath $diagnostic -PathType Leaf)) { return '' }
    try {
        $process = Start-Program $diagnostic '' $true
        $output = $process.StandardOutput.ReadToEndAsync()
        if (-not $process.WaitForExit($ReadTimeoutSeconds * 1000)) { Stop-Program $process }
        if (-not $output.Wait(5000)) { return '' }
        return ($output.Result -split "`n")[0].Trim()
    } catch {
        return ''
    }
}

# Why quickboot.exe with $Switch failed, having ended with $Code.
function Get-FailureReason([string]$Switch, [int]$Code) {
    $verdict = Get-DiagnosticVerdict
    if ($verdict) { return $verdict }
    if ($Code -eq 100) {
        return "quickboot.exe $Switch answered 100: the control library could not be located, loaded or called"
    }
    return "quickboot.exe $Switch answered ${Code}: none of its answers; the control library may have ended the process"
}

# Runs quickboot.exe with $Switch: "/g" for at most $ReadTimeoutSeconds (a read that overruns is
# ended), "/1" or "/0" for as long as it takes (a write is never cut off). Returns
# @{ Code = the exit code, or $null; Reason = why it failed, or '' when Code is an answer of the
# switch: 0 or 1 for "/g", 0 for a write }.
function Invoke-Quickboot([string]$Switch) {
    if (-not (Test-Path -LiteralPath $Quickboot -PathType Leaf)) {
        return @{ Code = $null; Reason = "quickboot.exe not found: $Quickboot" }
    }
    try {
        $process = Start-Program $Quickboot $Switch $false
    } catch {
        return @{ Code = $null; Reason = "quickboot.exe $Switch could not be started: $($_.Exception.Message)" }
    }
    if ($Switch -ne '/g') {
        $process.WaitForExit()
    } elseif (-not $process.WaitForExit($ReadTimeoutSeconds * 1000)) {
        Stop-Program $process
        return @{ Code = $null; Reason = "quickboot.exe /g did not answer within $ReadTimeoutSeconds seconds and was ended" }
    }
    $code = $process.ExitCode
    if ($code -eq 0 -or ($code -eq 1 -and $Switch -eq '/g')) {
        return @{ Code = $code; Reason = '' }
    }
    return @{ Code = $code; Reason = (Get-FailureReason $Switch $code) }
}

# A reason as one short line: its first line, at most 300 characters.
function Format-Reason([string]$Reason) {
    $line = ($Reason -split "`n")[0].Trim()
    if ($line.Length -gt 300) { $line = $line.Substring(0, 300) }
    return $line
}

# ---- End of the shared part --------------------------------------------------------------------

if ($State -ne 0 -and $State -ne 1) {
    Write-Output 'usage: set-quickboot.ps1 -State 1 (quick boot on) or -State 0 (off)'
    exit 1
}
$result = Invoke-Quickboot '/g'
if (-not $result.Reason -and $result.Code -ne $State) {
    $result = Invoke-Quickboot "/$State"
}
if (-not $result.Reason) {
    exit 0
}
Write-Output (Format-Reason $result.Reason)
if ($result.Code -eq 100) {
    exit 100
}
exit 1
