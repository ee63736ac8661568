# QuickBoot: reads and changes the quick-boot switch through quickboot.exe, and asks the
# diagnostic companion quickboot-diag.exe why it fails. Every deployment wrapper is built on it.
# Runs in Windows PowerShell 5.1 and PowerShell 7: no newer syntax.

Set-StrictMode -Version 2.0

# A reason is one line that stands whole in the space management systems keep for a message.
$script:ReasonLimit = 299
$script:CannotUse = 'the control library could not be located, loaded or called'
$script:VerdictPattern = '^quickboot-diag: ([a-z0-9_]+): (.*)$'

# ---- Internal helpers -----------------------------------------------------------------------------

# The full path of quickboot.exe: -Path, else the 64-bit Program Files folder (ProgramW6432 names
# it also in a 32-bit PowerShell), else beside the module (its folder, then its parent).
# Returns @{ Program = the path, or $null; Searched = the places looked at }.
function Find-Program([string]$Path) {
    $candidates = @()
    if ($Path) {
        $candidates += $Path
    } else {
        if ($env:ProgramW6432) { $candidates += Join-Path $env:ProgramW6432 'quickboot\quickboot.exe' }
        $candidates += Join-Path $PSScriptRoot 'quickboot.exe'
        $candidates += Join-Path (Split-Path -Parent $PSScriptRoot) 'quickboot.exe'
    }
    foreach ($candidate in $candidates) {
        if (Test-Path -LiteralPath $candidate -PathType Leaf) {
            return @{ Program = (Get-Item -LiteralPath $candidate).FullName; Searched = $candidates }
        }
    }
    return @{ Program = $null; Searched = $candidates }
}

# The encoding the companion writes to a pipe: the console's code page, and a program started
# without a window gets a console of its own with the OEM code page.
function Get-OemEncoding {
    try {
        return [System.Text.Encoding]::GetEncoding(
            [System.Globalization.CultureInfo]::CurrentCulture.TextInfo.OEMCodePage)
    } catch {
        return [System.Text.Encoding]::ASCII
    }
}

# Runs a program without a window, in its own folder, for at most $TimeoutSeconds. A program
# that overruns is ended, unless -LeaveRunning (a write must never be cut off halfway). It never
# holds the caller's standard handles: a program left running would keep a management agent,
# which waits for its output pipe to close, waiting as long.
# Not Start-Process: the process object it passes back can leave ExitCode empty.
# Returns @{ ExitCode = the code, or $null; TimedOut; StartError = why it did not start, or '';
# Output = what it printed }.
function Invoke-Program {
    param([string]$FilePath, [string]$Arguments, [int]$TimeoutSeconds, [switch]$LeaveRunning)
    $result = @{ ExitCode = $null; TimedOut = $false; StartError = ''; Output = '' }
    $info = New-Object System.Diagnostics.ProcessStartInfo
    $info.FileName = $FilePath
    $info.Arguments = $Arguments
    $info.WorkingDirectory = Split-Path -Parent $FilePath
    $detached = $LeaveRunning -and [System.Environment]::OSVersion.Platform -eq 'Win32NT'
    if ($detached) {
        # Windows hands a child every inheritable handle, pipes given to it or not; the shell
        # starts it with none (quickboot.exe prints nothing).
        $info.UseShellExecute = $true
        $info.WindowStyle = [System.Diagnostics.ProcessWindowStyle]::Hidden
    } else {
        $info.UseShellExecute = $false
        $info.CreateNoWindow = $true
        $info.RedirectStandardInput = $true
        $info.RedirectStandardOutput = $true
        $info.RedirectStandardError = $true
        $info.StandardOutputEncoding = Get-OemEncoding
    }
    try {
        $process = [System.Diagnostics.Process]::Start($info)
    } catch {
        $result.StartError = $_.Exception.Message
        return $result
    }
    if ($null -eq $process) {
        $result.StartError = 'no process was started'
        return $result
    }
    try {
        if (-not $detached) {
            $process.StandardInput.Close()
            # Read while it runs: a program that writes much would otherwise block.
            $output = $process.StandardOutput.ReadToEndAsync()
            $null = $process.StandardError.ReadToEndAsync()
        }
        if ($process.WaitForExit([Math]::Max(0, $TimeoutSeconds) * 1000)) {
            $result.ExitCode = $process.ExitCode
            if (-not $detached -and $output.Wait(5000)) { $result.Output = $output.Result }
        } else {
            $result.TimedOut = $true
            if (-not $LeaveRunning) {
                try { $process.Kill() } catch { }  # it may have ended meanwhile
            }
        }
    } finally {
        $process.Dispose()
    }
    return $result
}

# One line of at most $script:ReasonLimit characters.
function Format-Line([string]$Text) {
    $line = ($Text -split "`r?`n")[0].Trim()
    if ($line.Length -gt $script:ReasonLimit) { $line = $line.Substring(0, $script:ReasonLimit) }
    return $line
}

# The companion's verdict, its first line, or $null where it is not installed beside
# quickboot.exe, does not answer within the limit or prints no verdict. Failed: the companion
# itself found the failure (it answers what quickboot.exe /g answers: 0 or 1 when the read works).
function Get-CompanionVerdict([string]$Program, [int]$TimeoutSeconds) {
    $companion = Join-Path (Split-Path -Parent $Program) 'quickboot-diag.exe'
    if (-not (Test-Path -LiteralPath $companion -PathType Leaf)) { return $null }
    $run = Invoke-Program -FilePath (Get-Item -LiteralPath $companion).FullName -Arguments '' `
        -TimeoutSeconds $TimeoutSeconds
    if ($null -eq $run.ExitCode -or $run.ExitCode -eq 2) { return $null }
    $line = Format-Line $run.Output
    if ($line -notmatch $script:VerdictPattern) { return $null }
    $failed = $run.ExitCode -ne 0 -and $run.ExitCode -ne 1 -and
        $Matches[1] -ne 'quick_boot_on' -and $Matches[1] -ne 'quick_boot_off'
    return @{ Cause = $Matches[1]; Line = $line; Failed = $failed }
}

# A result: the shape every command returns (Set-QuickBoot adds Changed).
function New-Result($State, $ExitCode, [string]$Cause, [string]$Reason) {
    return [pscustomobject]@{
        State = $State
        ExitCode = $ExitCode
        Cause = $Cause
        Reason = (Format-Line $Reason)
        ComputerName = [System.Environment]::MachineName
    }
}

# The result of quickboot.exe $Switch that ended with $ExitCode, not one of its answers. The
# companion's verdict is the reason only when the companion itself finds a failure; otherwise the
# failing call leads and the verdict follows it.
function New-FailedCallResult([string]$Program, [string]$Switch, [int]$ExitCode, [int]$TimeoutSeconds) {
    if ($ExitCode -eq 100) {
        $cause = 'control_library_failed'
        $lead = "quickboot.exe $Switch answered 100: $script:CannotUse"
    } else {
        $cause = 'unexpected_exit_code'
        $lead = "quickboot.exe $Switch answered ${ExitCode}: none of its answers; the control library may have ended the process"
    }
    $verdict = Get-CompanionVerdict $Program $TimeoutSeconds
    if ($null -eq $verdict) { return New-Result $null $ExitCode $cause $lead }
    if (-not $verdict.Failed) { return New-Result $null $ExitCode $cause "$lead; $($verdict.Line)" }
    # An older companion names the exit code where the cause goes.
    if ($verdict.Cause -match '^[a-z]') { $cause = $verdict.Cause }
    return New-Result $null $ExitCode $cause $verdict.Line
}

# Reads the switch with quickboot.exe /g, as found by Find-Program: State 'On', 'Off', or $null
# with the cause.
function Read-State($Found, [int]$TimeoutSeconds) {
    if (-not $Found.Program) {
        return New-Result $null $null 'not_installed' "quickboot.exe not found: $($Found.Searched -join ', ')"
    }
    $Program = $Found.Program
    $run = Invoke-Program -FilePath $Program -Arguments '/g' -TimeoutSeconds $TimeoutSeconds
    if ($run.StartError) {
        return New-Result $null $null 'could_not_start' "quickboot.exe /g could not be started: $($run.StartError)"
    }
    if ($run.TimedOut) {
        return New-Result $null $null 'timed_out' "quickboot.exe /g did not answer within $TimeoutSeconds seconds and was ended"
    }
    if ($run.ExitCode -eq 1) { return New-Result 'On' 1 'ok' 'quick boot is on' }
    if ($run.ExitCode -eq 0) { return New-Result 'Off' 0 'ok' 'quick boot is off' }
    return New-FailedCallResult $Program '/g' $run.ExitCode $TimeoutSeconds
}

# Writes the non-terminating error of a result whose state is unknown; its error id starts with
# the cause, so that callers can tell causes apart and -ErrorAction Stop works.
function Write-ResultError($Cmdlet, $Result) {
    if ($null -ne $Result.State) { return }
    $exception = New-Object System.InvalidOperationException ("$($Result.Cause): $($Result.Reason)")
    $record = New-Object System.Management.Automation.ErrorRecord ($exception, $Result.Cause,
        [System.Management.Automation.ErrorCategory]::NotSpecified, $Result.ComputerName)
    $Cmdlet.WriteError($record)
}

# ---- Commands -------------------------------------------------------------------------------------

<#
.SYNOPSIS
Reads the quick-boot switch.
.DESCRIPTION
Runs quickboot.exe /g, ending it when it does not answer within -TimeoutSeconds, and returns one
object: State ('On', 'Off', or $null when unknown), ExitCode ($null when it did not answer),
Cause ('ok', or a lower-case token such as not_installed, could_not_start, timed_out,
control_library_failed, unexpected_exit_code, or the diagnostic companion's own cause), Reason
(one line) and ComputerName. When the state is unknown it also writes a non-terminating error
whose error id starts with the cause. Where quickboot-diag.exe lies beside quickboot.exe, its
verdict explains a failure.
.PARAMETER Path
quickboot.exe. Default: $env:ProgramW6432\quickboot\quickboot.exe, else beside the module.
.PARAMETER TimeoutSeconds
The longest the read, and the companion's report, may take.
.EXAMPLE
Get-QuickBoot

State ExitCode Cause Reason           ComputerName
----- -------- ----- ------           ------------
On           1 ok    quick boot is on PC-0142
.EXAMPLE
Get-QuickBoot -Path 'D:\Tools\quickboot\quickboot.exe' -TimeoutSeconds 60 -ErrorAction Stop
.EXAMPLE
Invoke-Command -ComputerName PC-0142, PC-0143 -ScriptBlock { Get-QuickBoot }
#>
function Get-QuickBoot {
    [CmdletBinding()]
    param(
        [string]$Path,
        [ValidateRange(1, 86400)][int]$TimeoutSeconds = 20
    )
    $result = Read-State (Find-Program $Path) $TimeoutSeconds
    Write-ResultError $PSCmdlet $result
    return $result
}

<#
.SYNOPSIS
Brings the quick-boot switch to a state.
.DESCRIPTION
Reads first (as Get-QuickBoot) and writes (quickboot.exe /1 or /0) only when the switch differs.
Returns the shape of Get-QuickBoot plus Changed ($true when it wrote). A write that does not end
within -WriteTimeoutSeconds is not ended, since a write cut off halfway could leave the firmware
setting in any state: the cause is then write_still_running, State is $null and the call fails.
Supports -WhatIf and -Confirm for the write; the read always runs.
.PARAMETER State
'On' or 'Off'.
.PARAMETER Path
quickboot.exe. Default: $env:ProgramW6432\quickboot\quickboot.exe, else beside the module.
.PARAMETER TimeoutSeconds
The longest the read, and the companion's report, may take.
.PARAMETER WriteTimeoutSeconds
How long to wait for the write.
.EXAMPLE
Set-QuickBoot -State On
.EXAMPLE
Set-QuickBoot -State Off -WhatIf
.EXAMPLE
Invoke-Command -ComputerName (Get-Content computers.txt) -ScriptBlock { Set-QuickBoot -State On -Confirm:$false } |
    Where-Object { $_.Cause -ne 'ok' }
#>
function Set-QuickBoot {
    [CmdletBinding(SupportsShouldProcess = $true, ConfirmImpact = 'Medium')]
    param(
        [Parameter(Mandatory = $true)][ValidateSet('On', 'Off')][string]$State,
        [string]$Path,
        [ValidateRange(1, 86400)][int]$TimeoutSeconds = 20,
        [ValidateRange(1, 86400)][int]$WriteTimeoutSeconds = 300
    )
    $found = Find-Program $Path
    $result = Read-State $found $TimeoutSeconds
    $changed = $false
    if ($null -ne $result.State -and $result.State -ne $State -and
        $PSCmdlet.ShouldProcess($result.ComputerName, "Switch quick boot $($State.ToLowerInvariant())")) {
        $switch = if ($State -eq 'On') { '/1' } else { '/0' }
        $run = Invoke-Program -FilePath $found.Program -Arguments $switch `
            -TimeoutSeconds $WriteTimeoutSeconds -LeaveRunning
        if ($run.StartError) {
            $result = New-Result $null $null 'could_not_start' "quickboot.exe $switch could not be started: $($run.StartError)"
        } elseif ($run.TimedOut) {
            $result = New-Result $null $null 'write_still_running' "quickboot.exe $switch did not end within $WriteTimeoutSeconds seconds; it was left running, since a write cut off halfway could leave any state"
        } elseif ($run.ExitCode -eq 0) {
            $result = New-Result $State 0 'ok' "quick boot switched $($State.ToLowerInvariant())"
            $changed = $true
        } else {
            $result = New-FailedCallResult $found.Program $switch $run.ExitCode $TimeoutSeconds
        }
    }
    $result | Add-Member -NotePropertyName Changed -NotePropertyValue $changed
    Write-ResultError $PSCmdlet $result
    return $result
}

<#
.SYNOPSIS
Tells whether the quick-boot switch is in a state.
.DESCRIPTION
Reads as Get-QuickBoot does and returns $true when the switch is in -State, $false otherwise. When
the state is unknown it returns $false and writes the same non-terminating error as Get-QuickBoot.
.PARAMETER State
The state to test for: 'On' or 'Off'.
.PARAMETER Path
quickboot.exe, as for Get-QuickBoot.
.PARAMETER TimeoutSeconds
The read's limit, as for Get-QuickBoot.
.EXAMPLE
if (-not (Test-QuickBoot -State On)) { Set-QuickBoot -State On }
.EXAMPLE
Test-QuickBoot -State Off -ErrorAction Stop
#>
function Test-QuickBoot {
    [CmdletBinding()]
    [OutputType([bool])]
    param(
        [Parameter(Mandatory = $true)][ValidateSet('On', 'Off')][string]$State,
        [string]$Path,
        [ValidateRange(1, 86400)][int]$TimeoutSeconds = 20
    )
    $result = Get-QuickBoot -Path $Path -TimeoutSeconds $TimeoutSeconds
    return $result.State -eq $State
}

<#
.SYNOPSIS
The diagnostic companion's full report, as an object.
.DESCRIPTION
Runs quickboot-diag.exe --json (beside quickboot.exe) and returns the object it prints: verdict,
exit_code, cause and the report of every step. It changes nothing. When the companion is not
installed, does not answer within -TimeoutSeconds or prints no report, it returns nothing and
writes a non-terminating error whose id starts with not_installed, timed_out or no_report.
.PARAMETER Path
quickboot.exe, beside which the companion lies. Default: as Get-QuickBoot.
.PARAMETER TimeoutSeconds
The longest the companion may take.
.EXAMPLE
(Get-QuickBootDiagnosis).verdict
.EXAMPLE
Invoke-Command -ComputerName PC-0142 -ScriptBlock { Get-QuickBootDiagnosis } | Select-Object PSComputerName, cause, verdict
#>
function Get-QuickBootDiagnosis {
    [CmdletBinding()]
    param(
        [string]$Path,
        [ValidateRange(1, 86400)][int]$TimeoutSeconds = 20
    )
    $found = Find-Program $Path
    $companion = $null
    if ($found.Program) {
        $companion = Join-Path (Split-Path -Parent $found.Program) 'quickboot-diag.exe'
    }
    if (-not $companion -or -not (Test-Path -LiteralPath $companion -PathType Leaf)) {
        $where = if ($companion) { $companion } else { $found.Searched -join ', ' }
        Write-ResultError $PSCmdlet (New-Result $null $null 'not_installed' "quickboot-diag.exe not found beside quickboot.exe: $where")
        return
    }
    $run = Invoke-Program -FilePath (Get-Item -LiteralPath $companion).FullName -Arguments '--json' `
        -TimeoutSeconds $TimeoutSeconds
    if ($run.StartError) {
        Write-ResultError $PSCmdlet (New-Result $null $null 'could_not_start' "quickboot-diag.exe could not be started: $($run.StartError)")
        return
    }
    if ($run.TimedOut) {
        Write-ResultError $PSCmdlet (New-Result $null $null 'timed_out' "quickboot-diag.exe did not answer within $TimeoutSeconds seconds and was ended")
        return
    }
    try {
        if ($run.Output.Trim()) { return ($run.Output | ConvertFrom-Json) }
    } catch {
    }
    Write-ResultError $PSCmdlet (New-Result $null $run.ExitCode 'no_report' "quickboot-diag.exe --json answered $($run.ExitCode) without a report")
}

. (Join-Path $PSScriptRoot 'QuickBoot.Fleet.ps1')
. (Join-Path $PSScriptRoot 'QuickBoot.Report.ps1')
Export-ModuleMember -Function Get-QuickBoot, Set-QuickBoot, Test-QuickBoot, Get-QuickBootDiagnosis, ConvertFrom-QuickBootStatus, Measure-QuickBootFleet, Export-QuickBootFleetReport
