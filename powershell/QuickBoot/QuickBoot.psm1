# QuickBoot: reads and changes the quick-boot switch through quickboot.exe, and asks the
# diagnostic companion quickboot-diag.exe why it fails. Every deployment wrapper is built on it.
# Runs in Windows PowerShell 5.1 and PowerShell 7: no newer syntax.

Set-StrictMode -Version 2.0

# A status line (and so a reason) stands whole in the space management systems keep for a
# message; each hardware field is short.
$script:LineLimit = 2048
$script:FieldLimit = 64
$script:CannotUse = 'the control library could not be located, loaded or called'
$script:VerdictPattern = '^quickboot-diag: ([a-z0-9_]+): (.*)$'
$script:FixSeparator = '; fix: '
$script:ResultType = 'QuickBoot.Result'
# The machine-wide key the installer writes, read in the 64-bit view.
$script:InstallKey = 'SOFTWARE\quickboot'
$script:HardwareKey = 'HARDWARE\DESCRIPTION\System\BIOS'

# The one table of causes, by token: meaning and fix.
$script:Causes = @{}
foreach ($row in (Import-PowerShellDataFile -LiteralPath (Join-Path $PSScriptRoot 'QuickBoot.Causes.psd1')).Causes) {
    $script:Causes[$row.Token] = $row
}

# How a failure is reported as an error: its category and the type of its exception, by cause. A
# cause not named here (an older companion's) is NotSpecified.
$script:ErrorKinds = @{}
foreach ($kind in @(
        @{ Category = 'ObjectNotFound'; Exception = 'System.Management.Automation.ItemNotFoundException'
            Causes = 'not_installed key_missing only_32bit_view only_current_user value_missing file_missing directory dependency_missing export_missing' }
        @{ Category = 'PermissionDenied'; Exception = 'System.UnauthorizedAccessException'
            Causes = 'key_access_denied blocked_by_policy' }
        @{ Category = 'OperationTimeout'; Exception = 'System.TimeoutException'
            Causes = 'timed_out library_hung write_still_running' }
        @{ Category = 'InvalidData'; Exception = 'System.IO.InvalidDataException'
            Causes = 'value_not_string unexpanded_variable value_has_quotes value_has_spaces dllname_has_path instpath_is_file not_in_ansi_code_page path_too_long path_over_ansi_limit not_a_library wrong_architecture' }
        @{ Category = 'ReadError'; Exception = 'System.IO.IOException'; Causes = 'key_unreadable' }
        @{ Category = 'ResourceUnavailable'; Exception = 'System.ComponentModel.Win32Exception'; Causes = 'could_not_start' }
        @{ Category = 'InvalidResult'; Exception = 'System.InvalidOperationException'
            Causes = 'start_up_failed load_failed library_crashed library_exited unload_crashed read_failed internal_error control_library_failed unexpected_exit_code no_report' }
        @{ Category = 'ResourceBusy'; Exception = 'System.InvalidOperationException'; Causes = 'write_in_progress' }
        @{ Category = 'InvalidArgument'; Exception = 'System.ArgumentException'; Causes = 'bad_setting' }
        @{ Category = 'ConnectionError'; Exception = 'System.Management.Automation.Remoting.PSRemotingTransportException'
            Causes = 'unreachable' })) {
    foreach ($token in $kind.Causes -split ' ') {
        $script:ErrorKinds[$token] = @{ Category = $kind.Category; Exception = $kind.Exception }
    }
}

# ---- Reads of the machine (one function each, so that they can be replaced where the machine is
# not Windows) ------------------------------------------------------------------------------------

# A value under HKLM in the 64-bit view, also from a 32-bit PowerShell; $null where it is missing
# or the machine has no registry. A multi-string is joined with line ends (made blanks later).
function Get-MachineValue([string]$Key, [string]$Name) {
    try {
        $hive = [Microsoft.Win32.RegistryKey]::OpenBaseKey([Microsoft.Win32.RegistryHive]::LocalMachine,
            [Microsoft.Win32.RegistryView]::Registry64)
        try {
            $subKey = $hive.OpenSubKey($Key)
            if ($null -eq $subKey) { return $null }
            try {
                $value = $subKey.GetValue($Name, $null, [Microsoft.Win32.RegistryValueOptions]::DoNotExpandEnvironmentNames)
                if ($value -is [string[]]) { return ($value -join "`n") }
                if ($null -ne $value) { return [string]$value }
                return $null
            } finally {
                $subKey.Dispose()
            }
        } finally {
            $hive.Dispose()
        }
    } catch {
        return $null
    }
}

# The program folder the installer recorded (HKLM\SOFTWARE\quickboot, InstallDir), or $null.
function Get-InstallDirSetting {
    return Get-MachineValue $script:InstallKey 'InstallDir'
}

# The machine's maker, model and firmware as the firmware reports them, read without WMI.
function Get-HardwareIdentity {
    return @{
        Manufacturer = Get-MachineValue $script:HardwareKey 'SystemManufacturer'
        Model = Get-MachineValue $script:HardwareKey 'SystemProductName'
        Firmware = Get-MachineValue $script:HardwareKey 'BIOSVersion'
        FirmwareDate = Get-MachineValue $script:HardwareKey 'BIOSReleaseDate'
    }
}

# quickboot.exe's file version (1.0.0), or '' where it has none.
function Get-ProgramVersion([string]$Program) {
    if (-not $Program) { return '' }
    try {
        $version = [System.Diagnostics.FileVersionInfo]::GetVersionInfo($Program).FileVersion
        if ($version) { return $version.Trim() }
    } catch {
    }
    return ''
}

# ---- Internal helpers -----------------------------------------------------------------------------

# A full path: a drive and its root, or a share (a rooted path on a machine that is not Windows).
# Never one relative to the current drive or folder.
function Test-FullPath([string]$Path) {
    if ([System.Environment]::OSVersion.Platform -eq 'Win32NT') {
        return $Path -match '^(?:[A-Za-z]:[\\/]|[\\/]{2}[^\\/])'
    }
    return $Path.StartsWith('/')
}

# The full path of quickboot.exe: -Path (the program or its folder) alone where given; else the
# first of the folder the installer recorded, %ProgramW6432%\quickboot and the module's folder or
# the one above it that holds it. Returns @{ Program = the path, or $null; Why = where it looked
# and why each did not apply; BadSetting = -Path is not a full path }.
function Find-Program([string]$Path) {
    $why = New-Object System.Collections.Generic.List[string]
    if ($Path) {
        if (-not (Test-FullPath $Path)) {
            return @{ Program = $null; BadSetting = $true; Why = "-Path is not a full path: $Path" }
        }
        $candidate = $Path
        if (Test-Path -LiteralPath $Path -PathType Container) { $candidate = Join-Path $Path 'quickboot.exe' }
        Write-Verbose "Looking for quickboot.exe at $candidate (-Path)"
        if (Test-Path -LiteralPath $candidate -PathType Leaf) {
            return @{ Program = (Get-Item -LiteralPath $candidate).FullName; BadSetting = $false; Why = '' }
        }
        return @{ Program = $null; BadSetting = $false; Why = "quickboot.exe not found: $candidate (-Path) does not exist" }
    }
    $candidates = @()
    $installDir = Get-InstallDirSetting
    if (-not $installDir) {
        $why.Add("HKLM\$script:InstallKey\InstallDir is missing")
    } elseif (-not (Test-FullPath $installDir)) {
        $why.Add("HKLM\$script:InstallKey\InstallDir is not a full path: $installDir")
    } else {
        $candidates += Join-Path $installDir 'quickboot.exe'
    }
    $programFiles = $env:ProgramW6432
    if (-not $programFiles) {
        $why.Add('ProgramW6432 is not set')
    } elseif (-not (Test-FullPath $programFiles)) {
        $why.Add("ProgramW6432 is not a full path: $programFiles")
    } else {
        $candidates += Join-Path $programFiles 'quickboot\quickboot.exe'
    }
    $candidates += Join-Path $PSScriptRoot 'quickboot.exe'
    $candidates += Join-Path (Split-Path -Parent $PSScriptRoot) 'quickboot.exe'
    foreach ($candidate in $candidates) {
        if (Test-Path -LiteralPath $candidate -PathType Leaf) {
            $program = (Get-Item -LiteralPath $candidate).FullName
            Write-Verbose "quickboot.exe found at $program (looked at: $(($why + $candidates) -join '; '))"
            return @{ Program = $program; BadSetting = $false; Why = '' }
        }
        $why.Add("$candidate does not exist")
    }
    return @{ Program = $null; BadSetting = $false; Why = "quickboot.exe not found: $($why -join '; ')" }
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
# Runs a program without a window, in its own folder, for at most $TimeoutSeconds (0: no limit). A program
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
    Write-Verbose "Running $FilePath $Arguments (limit $TimeoutSeconds s)"
    $clock = [System.Diagnostics.Stopwatch]::StartNew()
    try {
        $process = [System.Diagnostics.Process]::Start($info)
    } catch {
        $result.StartError = $_.Exception.Message
        Write-Verbose "It could not be started: $($result.StartError)"
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
        $ended = if ($TimeoutSeconds -gt 0) { $process.WaitForExit($TimeoutSeconds * 1000) } else { $process.WaitForExit(); $true }
        if ($ended) {
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
    $seconds = [Math]::Round($clock.Elapsed.TotalSeconds, 1)
    if ($result.TimedOut) {
        Write-Verbose "It did not end within $TimeoutSeconds s$(if ($LeaveRunning) { ' and was left running' } else { ' and was ended' })"
    } else {
        Write-Verbose "It answered $($result.ExitCode) after $seconds s"
    }
    return $result
}


# One line: the first, without control characters, trimmed, at most $script:LineLimit long.
function Format-Line([string]$Text) {
    $line = (($Text -split "`r?`n")[0] -replace '\p{Cc}', ' ').Trim()
    if ($line.Length -gt $script:LineLimit) { $line = $line.Substring(0, $script:LineLimit) }
    return $line
}

# A hardware field as the status line carries it: no control characters, ';' or '|', trimmed,
# at most $script:FieldLimit long; '' when unknown.
function Format-Field($Value) {
    if ($null -eq $Value) { return '' }
    $text = ([string]$Value -replace '[\p{Cc};|]', ' ').Trim()
    if ($text.Length -gt $script:FieldLimit) { $text = $text.Substring(0, $script:FieldLimit) }
    return $text
}

# A reason never repeats its cause: a companion verdict used as one loses its
# "quickboot-diag: <cause>: ".
function Remove-CausePrefix([string]$Reason, [string]$Cause) {
    $prefix = "quickboot-diag: ${Cause}: "
    if ($Cause -and $Reason.StartsWith($prefix, [System.StringComparison]::Ordinal)) {
        return $Reason.Substring($prefix.Length)
    }
    return $Reason
}

# The status line every kit prints:
#   <outcome>: <cause>: <reason> | manufacturer=<m>; model=<p>; firmware=<v>; firmware_date=<d>; quickboot=<q>
# at most $script:LineLimit long: the reason is cut at a blank, with '...', to fit.
function Format-StatusLine {
    param([string]$Outcome, [string]$Cause, [string]$Reason, [string]$Manufacturer, [string]$Model,
        [string]$Firmware, [string]$FirmwareDate, [string]$Version)
    $head = "${Outcome}: ${Cause}: "
    $tail = ' | manufacturer={0}; model={1}; firmware={2}; firmware_date={3}; quickboot={4}' -f
        (Format-Field $Manufacturer), (Format-Field $Model), (Format-Field $Firmware),
        (Format-Field $FirmwareDate), (Format-Field $Version)
    $text = Remove-CausePrefix (Format-Line $Reason) $Cause
    $room = $script:LineLimit - $head.Length - $tail.Length
    if ($text.Length -gt $room) {
        $cut = $text.Substring(0, [Math]::Max(0, $room - 3))
        $blank = $cut.LastIndexOf(' ')
        if ($blank -gt 0) { $cut = $cut.Substring(0, $blank) }
        $text = $cut.TrimEnd() + '...'
    }
    return $head + $text + $tail
}

# 'On' or 'Off' whatever the case it was given in.
function ConvertTo-StateName([string]$State) {
    if (-not $State) { return $null }
    if ($State -eq 'On') { return 'On' }
    return 'Off'
}

# compliant, drift or repaired for a known state, error for an unknown one; $null for a read
# without a desired state.
function Get-Outcome($State, $DesiredState, [bool]$Changed) {
    if ($null -eq $State) { return 'error' }
    if ($Changed) { return 'repaired' }
    if (-not $DesiredState) { return $null }
    if ($State -eq $DesiredState) { return 'compliant' }
    return 'drift'
}

# A QuickBoot.Result: the one shape every command returns, every property always present, flat.
# The fix, when the call gave none, is the cause table's.
function New-Result {
    param([string]$ComputerName, $State, $DesiredState, [bool]$Changed, $Outcome, [string]$Cause,
        [string]$Reason, [string]$Fix, $ReadExitCode, $WriteExitCode, [hashtable]$Identity,
        [string]$Version, $Timestamp = [DateTime]::UtcNow)
    if (-not $Identity) { $Identity = @{} }
    $reasonLine = Remove-CausePrefix (Format-Line $Reason) $Cause
    if (-not $Fix -and $script:Causes.ContainsKey($Cause)) { $Fix = $script:Causes[$Cause].Fix }
    $fields = @{}
    foreach ($name in 'Manufacturer', 'Model', 'Firmware', 'FirmwareDate') { $fields[$name] = Format-Field $Identity[$name] }
    $versionField = Format-Field $Version
    $statusLine = $null
    if ($Outcome) {
        $statusLine = Format-StatusLine -Outcome $Outcome -Cause $Cause -Reason $reasonLine `
            -Manufacturer $fields.Manufacturer -Model $fields.Model -Firmware $fields.Firmware `
            -FirmwareDate $fields.FirmwareDate -Version $versionField
    }
    return [pscustomobject]@{
        PSTypeName = $script:ResultType
        ComputerName = $ComputerName
        State = (ConvertTo-StateName $State)
        DesiredState = (ConvertTo-StateName $DesiredState)
        Changed = $Changed
        Outcome = $Outcome
        Cause = $Cause
        Reason = $reasonLine
        Fix = (Format-Line $Fix)
        ReadExitCode = $ReadExitCode
        WriteExitCode = $WriteExitCode
        Manufacturer = $fields.Manufacturer
        Model = $fields.Model
        Firmware = $fields.Firmware
        FirmwareDate = $fields.FirmwareDate
        Version = $versionField
        Timestamp = $Timestamp
        StatusLine = $statusLine
    }
}

# A call's answer: @{ State = 'On', 'Off' or $null; ExitCode; Cause; Reason; Fix }.
function New-Call($State, $ExitCode, [string]$Cause, [string]$Reason, [string]$Fix = '') {
    return @{ State = $State; ExitCode = $ExitCode; Cause = $Cause; Reason = $Reason; Fix = $Fix }
}

# The companion's verdict split into its cause, its text and its fix, or $null for a line that
# is none.
function Split-Verdict([string]$Line) {
    if ($Line -notmatch $script:VerdictPattern) { return $null }
    $verdict = @{ Cause = $Matches[1]; Text = $Matches[2]; Fix = ''; Line = $Line }
    $at = $verdict.Text.IndexOf($script:FixSeparator, [System.StringComparison]::Ordinal)
    if ($at -ge 0) {
        $verdict.Fix = $verdict.Text.Substring($at + $script:FixSeparator.Length).Trim()
        $verdict.Text = $verdict.Text.Substring(0, $at).Trim()
    }
    return $verdict
}

# The companion's own limit for the library's code: below the module's wait for it, so that it
# answers before the module gives up on it.
function Get-CompanionLimit([int]$TimeoutSeconds) {
    return [Math]::Max(1, [int][Math]::Floor($TimeoutSeconds * 2 / 3))
}

# The companion beside quickboot.exe, or $null where it is not installed.
function Find-Companion([string]$Program) {
    $companion = Join-Path (Split-Path -Parent $Program) 'quickboot-diag.exe'
    if (Test-Path -LiteralPath $companion -PathType Leaf) { return (Get-Item -LiteralPath $companion).FullName }
    return $null
}

# The companion's verdict (Split-Verdict), or $null where it is not installed, does not answer
# within the limit or prints no verdict. Failed: the companion itself found the failure (it
# answers what quickboot.exe /g answers: 0 or 1 when the read works).
function Get-CompanionVerdict([string]$Program, [int]$TimeoutSeconds) {
    $companion = Find-Companion $Program
    if (-not $companion) { return $null }
    $run = Invoke-Program -FilePath $companion -Arguments "--timeout $(Get-CompanionLimit $TimeoutSeconds)" `
        -TimeoutSeconds $TimeoutSeconds
    if ($null -eq $run.ExitCode -or $run.ExitCode -eq 2) { return $null }
    $verdict = Split-Verdict (Format-Line $run.Output)
    if ($null -eq $verdict) { return $null }
    $verdict.Failed = $run.ExitCode -ne 0 -and $run.ExitCode -ne 1 -and
        $verdict.Cause -ne 'quick_boot_on' -and $verdict.Cause -ne 'quick_boot_off'
    return $verdict
}

# The answer of quickboot.exe $Switch that ended with $ExitCode, not one of its answers. The
# companion's verdict is the reason only when the companion itself finds a failure; otherwise the
# failing call leads and the verdict follows it.
function New-FailedCall([string]$Program, [string]$Switch, [int]$ExitCode, [int]$TimeoutSeconds) {
    if ($ExitCode -eq 100) {
        $cause = 'control_library_failed'
        $lead = "quickboot.exe $Switch answered 100: $script:CannotUse"
    } else {
        $cause = 'unexpected_exit_code'
        $lead = "quickboot.exe $Switch answered ${ExitCode}: none of its answers; the control library may have ended the process"
    }
    $verdict = Get-CompanionVerdict $Program $TimeoutSeconds
    if ($null -eq $verdict) { return New-Call $null $ExitCode $cause $lead }
    if (-not $verdict.Failed) { return New-Call $null $ExitCode $cause "$lead; $($verdict.Line)" }
    # An older companion names the exit code where the cause goes.
    if ($verdict.Cause -match '^[a-z]') { $cause = $verdict.Cause }
    return New-Call $null $ExitCode $cause $verdict.Text $verdict.Fix
}

# Reads the switch with quickboot.exe /g, as found by Find-Program.
function Read-State($Found, [int]$TimeoutSeconds) {
    if ($Found.BadSetting) { return New-Call $null $null 'bad_setting' $Found.Why }
    if (-not $Found.Program) { return New-Call $null $null 'not_installed' $Found.Why }
    $run = Invoke-Program -FilePath $Found.Program -Arguments '/g' -TimeoutSeconds $TimeoutSeconds
    if ($run.StartError) {
        return New-Call $null $null 'could_not_start' "quickboot.exe /g could not be started: $($run.StartError)"
    }
    if ($run.TimedOut) {
        return New-Call $null $null 'timed_out' "quickboot.exe /g did not answer within $TimeoutSeconds seconds and was ended"
    }
    if ($run.ExitCode -eq 1) { return New-Call 'On' 1 'quick_boot_on' 'quick boot is on' }
    if ($run.ExitCode -eq 0) { return New-Call 'Off' 0 'quick_boot_off' 'quick boot is off' }
    return New-FailedCall $Found.Program '/g' $run.ExitCode $TimeoutSeconds
}

# Writes the switch with quickboot.exe /1 or /0. A write past its limit is left running: one cut
# off halfway could leave the firmware setting in any state.
function Write-State([string]$Program, [string]$State, [int]$TimeoutSeconds, [int]$WriteTimeoutSeconds) {
    $word = $State.ToLowerInvariant()
    $switch = if ($State -eq 'On') { '/1' } else { '/0' }
    if (Test-RemoteSession) {
        # A program left running ends with the session: there the write is waited for to its end.
        $WriteTimeoutSeconds = 0
    }
    $run = Invoke-Program -FilePath $Program -Arguments $switch -TimeoutSeconds $WriteTimeoutSeconds -LeaveRunning
    if ($run.StartError) {
        return New-Call $null $null 'could_not_start' "quickboot.exe $switch could not be started: $($run.StartError)"
    }
    if ($run.TimedOut) {
        return New-Call $null $null 'write_still_running' "quickboot.exe $switch did not end within $WriteTimeoutSeconds seconds; it was left running, since a write cut off halfway could leave any state"
    }
    if ($run.ExitCode -eq 0) { return New-Call $State 0 "quick_boot_$word" "quick boot switched $word" }
    return New-FailedCall $Program $switch $run.ExitCode $TimeoutSeconds
}

# Reads (and, with -Write, brings to $DesiredState) the switch on this machine: one result.
function Invoke-Local {
    param($Cmdlet, [string]$Path, [int]$TimeoutSeconds, [string]$DesiredState, [switch]$Write,
        [int]$WriteTimeoutSeconds)
    $found = Find-Program $Path
    $read = Read-State $found $TimeoutSeconds
    $call = $read
    $changed = $false
    $writeExitCode = $null
    if ($Write -and $null -ne $read.State -and $read.State -ne $DesiredState -and
        $Cmdlet.ShouldProcess([System.Environment]::MachineName, "Switch quick boot $($DesiredState.ToLowerInvariant())")) {
        $call = Write-State $found.Program $DesiredState $TimeoutSeconds $WriteTimeoutSeconds
        $writeExitCode = $call.ExitCode
        $changed = $null -ne $call.State
    }
    $outcome = Get-Outcome $call.State $DesiredState $changed
    $reason = $call.Reason
    if ($outcome -eq 'drift') { $reason = "$reason, wanted $($DesiredState.ToLowerInvariant())" }
    return New-Result -ComputerName ([System.Environment]::MachineName) -State $call.State `
        -DesiredState $DesiredState -Changed $changed -Outcome $outcome -Cause $call.Cause -Reason $reason `
        -Fix $call.Fix -ReadExitCode $read.ExitCode -WriteExitCode $writeExitCode `
        -Identity (Get-HardwareIdentity) -Version (Get-ProgramVersion $found.Program)
}

# Writes the non-terminating error of a failed result: the error id starts with the cause (so
# that callers can tell causes apart and -ErrorAction Stop works), the category and the exception
# fit the cause, the result is the target and its fix the recommended action.
function Write-ResultError($Cmdlet, $Result) {
    if ($Result.Outcome -ne 'error') { return }
    $kind = $script:ErrorKinds[$Result.Cause]
    if ($null -eq $kind) { $kind = @{ Category = 'NotSpecified'; Exception = 'System.InvalidOperationException' } }
    $message = "$($Result.ComputerName): $($Result.Cause): $($Result.Reason)"
    $exception = New-Object -TypeName $kind.Exception -ArgumentList $message
    $record = New-Object System.Management.Automation.ErrorRecord ($exception, $Result.Cause,
        [System.Management.Automation.ErrorCategory]$kind.Category, $Result)
    $record.ErrorDetails = New-Object System.Management.Automation.ErrorDetails ($message)
    if ($Result.Fix) { $record.ErrorDetails.RecommendedAction = $Result.Fix }
    $Cmdlet.WriteError($record)
}

# A JSON member by its path ('load.outcome'), or $null where any part is missing.
function Get-JsonValue([object]$Object, [string]$MemberPath) {
    foreach ($name in $MemberPath -split '\.') {
        if ($null -eq $Object -or $null -eq $Object.PSObject.Properties[$name]) { return $null }
        $Object = $Object.PSObject.Properties[$name].Value
    }
    return $Object
}

# ---- Many machines --------------------------------------------------------------------------------

$script:ResultProperties = @('ComputerName', 'State', 'DesiredState', 'Changed', 'Outcome', 'Cause', 'Reason',
    'Fix', 'ReadExitCode', 'WriteExitCode', 'Manufacturer', 'Model', 'Firmware', 'FirmwareDate', 'Version',
    'Timestamp', 'StatusLine')

# What runs on each remote machine: the QuickBoot module installed there, so that its version and
# signature match the programs beside it. Where it is missing the answer says so.
$script:RemoteCall = {
    param([string]$CommandName, [hashtable]$Parameters)
    try {
        Import-Module QuickBoot -ErrorAction Stop
    } catch {
        return [pscustomobject]@{ QuickBootNotInstalled = "the QuickBoot module cannot be loaded: $($_.Exception.Message)" }
    }
    & $CommandName @Parameters -ErrorAction SilentlyContinue
}

# True inside a remote session: a program left running there ends with the session.
function Test-RemoteSession {
    return $null -ne (Get-Variable -Name PSSenderInfo -Scope Global -ValueOnly -ErrorAction SilentlyContinue)
}

# A remote answer as a QuickBoot.Result of this machine's shape, named as it was reached.
function ConvertTo-Result($Answer, [string]$ComputerName) {
    if ($null -ne $Answer.PSObject.Properties['QuickBootNotInstalled']) {
        return New-Result -ComputerName $ComputerName -Outcome 'error' -Cause 'not_installed' `
            -Reason $Answer.QuickBootNotInstalled
    }
    $result = New-Object PSObject
    foreach ($name in $script:ResultProperties) {
        $property = $Answer.PSObject.Properties[$name]
        $value = if ($null -ne $property) { $property.Value } else { $null }
        if ($name -eq 'ComputerName') { $value = $ComputerName }
        $result | Add-Member -NotePropertyName $name -NotePropertyValue $value
    }
    $result.PSTypeNames.Insert(0, $script:ResultType)
    return $result
}

# Runs $CommandName with $Parameters on every machine at once (at most $ThrottleLimit at a time)
# and returns one result a machine, in the order given: a machine that cannot be reached gives an
# unreachable result and never stops the others.
function Invoke-Remote {
    param([string]$CommandName, [hashtable]$Parameters, [string[]]$ComputerName,
        [System.Management.Automation.Runspaces.PSSession[]]$Session, [int]$ThrottleLimit,
        [System.Collections.IDictionary]$Connection)
    $ssh = $Connection.ContainsKey('SSHTransport') -and $Connection['SSHTransport']
    $targets = @()
    foreach ($name in $ComputerName) { $targets += @{ Name = $name; Session = $null; Owned = $false; Answer = $null; Why = ''; ByName = -not $ssh } }
    foreach ($one in $Session) { $targets += @{ Name = $one.ComputerName; Session = $one; Owned = $false; Answer = $null; Why = ''; ByName = $false } }
    $invoke = @{ ScriptBlock = $script:RemoteCall; ArgumentList = @($CommandName, $Parameters); ThrottleLimit = $ThrottleLimit }
    $failures = @()
    $answers = @()
    Write-Verbose "Running $CommandName on $(@($targets).Count) machine(s), at most $ThrottleLimit at a time"
    try {
        if ($ssh) {
            # Invoke-Command takes no throttle over SSH: a session each, then all at once.
            foreach ($target in $targets | Where-Object { -not $_.Session }) {
                $open = @{ HostName = $target.Name; ErrorAction = 'Stop' }
                foreach ($name in 'Port', 'UserName', 'KeyFilePath') {
                    if ($Connection.ContainsKey($name)) { $open[$name] = $Connection[$name] }
                }
                try {
                    $target.Session = New-PSSession @open
                    $target.Owned = $true
                } catch {
                    $target.Why = Format-Line $_.Exception.Message.Trim()
                }
            }
        }
        foreach ($target in $targets | Where-Object { $_.Session -and $_.Session.State -ne 'Opened' }) {
            $target.Why = "the session to $($target.Name) is $($target.Session.State)"
        }
        $opened = @($targets | Where-Object { $_.Session -and $_.Session.State -eq 'Opened' } | ForEach-Object { $_.Session })
        if ($opened.Count -gt 0) {
            $invoke.Session = $opened
            $answers += Invoke-Reaching $invoke ([ref]$failures)
            $invoke.Remove('Session')
        }
        if (-not $ssh -and @($ComputerName).Count -gt 0) {
            $invoke.ComputerName = $ComputerName
            if ($Connection.ContainsKey('Credential')) { $invoke.Credential = $Connection['Credential'] }
            $answers += Invoke-Reaching $invoke ([ref]$failures)
        }
    } finally {
        foreach ($target in $targets | Where-Object { $_.Owned }) { Remove-PSSession -Session $target.Session }
    }
    foreach ($answer in $answers) {
        $runspace = $answer.PSObject.Properties['RunspaceId']
        $reached = $answer.PSObject.Properties['PSComputerName']
        $target = $targets | Where-Object {
            $null -eq $_.Answer -and (($_.Session -and $runspace -and $_.Session.InstanceId -eq $runspace.Value) -or
                ($_.ByName -and $reached -and $_.Name -eq $reached.Value))
        } | Select-Object -First 1
        if ($target) { $target.Answer = $answer }
    }
    foreach ($target in $targets) {
        if ($null -ne $target.Answer) {
            ConvertTo-Result $target.Answer $target.Name
            continue
        }
        if (-not $target.Why) {
            $failure = $failures | Where-Object {
                $origin = $_.PSObject.Properties['OriginInfo']
                $_.TargetObject -eq $target.Name -or ($target.Session -and $_.TargetObject -eq $target.Session) -or
                ($origin -and $origin.Value -and $origin.Value.PSComputerName -eq $target.Name)
            } | Select-Object -First 1
            if (-not $failure) { $failure = $failures | Select-Object -First 1 }
            $target.Why = 'no answer came back'
            if ($failure) { $target.Why = Format-Line $failure.Exception.Message.Trim() }
        }
        New-Result -ComputerName $target.Name -Outcome 'error' -Cause 'unreachable' -Reason "$($target.Name) could not be reached: $($target.Why)"
    }
}

# Invoke-Command with $Invoke: its answers; its errors, also the one that stops it, join $Failures.
function Invoke-Reaching([hashtable]$Invoke, [ref]$Failures) {
    $errors = @()
    try {
        $answers = @(Invoke-Command @Invoke -ErrorAction SilentlyContinue -ErrorVariable errors)
    } catch {
        $answers = @()
        $errors = @($_)
    }
    foreach ($item in $errors) {
        if ($item -isnot [System.Management.Automation.ErrorRecord]) {
            $item = New-Object System.Management.Automation.ErrorRecord ($item, 'unreachable', 'ConnectionError', $null)
        }
        $Failures.Value += $item
    }
    return $answers
}

# The parameters a command passes on to its remote self: all but where it runs.
function Get-RemoteParameters([System.Collections.IDictionary]$Bound) {
    $parameters = @{}
    foreach ($name in $Bound.Keys) {
        if ($name -notin @('ComputerName', 'Session', 'Credential', 'SSHTransport', 'Port', 'UserName', 'KeyFilePath',
                'ThrottleLimit', 'Verbose', 'Debug',
                'ErrorAction', 'WarningAction', 'InformationAction', 'ErrorVariable', 'WarningVariable',
                'InformationVariable', 'OutVariable', 'OutBuffer', 'PipelineVariable', 'WhatIf', 'Confirm')) {
            $parameters[$name] = $Bound[$name]
        }
    }
    return $parameters
}

# ---- Commands -------------------------------------------------------------------------------------

<#
.SYNOPSIS
Reads the quick-boot switch.
.DESCRIPTION
Runs quickboot.exe /g, ending it when it does not answer within -TimeoutSeconds, and returns one
QuickBoot.Result: State ('On', 'Off', or $null when unknown), Cause (quick_boot_on, quick_boot_off
or the token of the failure), Reason, Fix, ReadExitCode, the machine's maker, model and firmware,
quickboot.exe's version and the status line. With -DesiredState the Outcome is compliant or drift;
without it the Outcome of a good read is empty. When the state is unknown the Outcome is error and
the command also writes a non-terminating error whose id starts with the cause, whose target is
the result and whose recommended action is the fix. Where quickboot-diag.exe lies beside
quickboot.exe, its verdict explains a failure.

quickboot.exe is found through -Path, else the folder the installer recorded
(HKLM\SOFTWARE\quickboot, InstallDir), else %ProgramW6432%\quickboot, else beside the module;
-Verbose names the places looked at, the command run, its exit code and the time it took.
.PARAMETER ComputerName
Runs on these machines through PowerShell remoting (WinRM), all at once up to -ThrottleLimit.
Binds from the pipeline by property name: ComputerName, DNSHostName (Get-ADComputer's output),
PSComputerName, or the alias CN. Name does not bind, as every process and file has one. The
QuickBoot module must be installed on each machine (the MSI installs it with the programs, so
the module and the programs there stay of one version and signature); where it is missing the
result's cause is not_installed. A machine that cannot be reached gives a result with the
cause unreachable and a non-terminating error, and never stops the others.
.PARAMETER Session
Runs in these sessions (New-PSSession, over WinRM or SSH) as -ComputerName does; both may be
given in one call.
.PARAMETER Credential
The account for -ComputerName over WinRM.
.PARAMETER SSHTransport
Reaches -ComputerName over SSH instead of WinRM (PowerShell 7), with -Port, -UserName and
-KeyFilePath.
.PARAMETER Port
The SSH port, with -SSHTransport.
.PARAMETER UserName
The SSH user, with -SSHTransport.
.PARAMETER KeyFilePath
The SSH key file, with -SSHTransport.
.PARAMETER ThrottleLimit
The most machines worked on at once.
.PARAMETER DesiredState
'On' or 'Off': the state the switch should be in, for the Outcome compliant or drift.
.PARAMETER Path
quickboot.exe or its folder, as a full path. Default: see the description.
.PARAMETER TimeoutSeconds
The longest the read, and the companion's report, may take.
.INPUTS
Objects with a ComputerName, DNSHostName or PSComputerName property (by property name).
.OUTPUTS
QuickBoot.Result
.EXAMPLE
Get-QuickBoot

ComputerName State Outcome Cause         Reason
------------ ----- ------- -----         ------
PC-0142      On            quick_boot_on quick boot is on

Reads the switch on this machine.
.EXAMPLE
Get-QuickBoot -DesiredState On | ConvertTo-QuickBootStatus

drift: quick_boot_off: quick boot is off, wanted on | manufacturer=Contoso; model=X1; firmware=1.2; firmware_date=01/02/2025; quickboot=1.0.0

Compares the switch with the state wanted and prints the status line a management system keeps.
.EXAMPLE
Get-QuickBoot -Path 'D:\Tools\quickboot' -TimeoutSeconds 60 -ErrorAction Stop

Reads with quickboot.exe from another folder and a longer limit, and stops on a failure.
.EXAMPLE
Get-ADComputer -Filter 'Name -like "PC-*"' | Get-QuickBoot -DesiredState On | Export-Csv quickboot.csv -NoTypeInformation

Reads every machine of the domain whose name starts with PC-, many at once, and keeps one row
a machine; machines that cannot be reached are rows with the cause unreachable.
#>
function Get-QuickBoot {
    [CmdletBinding(PositionalBinding = $false, DefaultParameterSetName = 'Local')]
    [OutputType('QuickBoot.Result')]
    param(
        [Parameter(ParameterSetName = 'Remote', ValueFromPipelineByPropertyName = $true)]
        [Alias('CN', 'DNSHostName', 'PSComputerName')][ValidateNotNullOrEmpty()][string[]]$ComputerName,
        [Parameter(ParameterSetName = 'Remote')][System.Management.Automation.Runspaces.PSSession[]]$Session,
        [Parameter(ParameterSetName = 'Remote')][System.Management.Automation.PSCredential]$Credential,
        [Parameter(ParameterSetName = 'Remote')][switch]$SSHTransport,
        [Parameter(ParameterSetName = 'Remote')][ValidateRange(1, 65535)][int]$Port,
        [Parameter(ParameterSetName = 'Remote')][string]$UserName,
        [Parameter(ParameterSetName = 'Remote')][string]$KeyFilePath,
        [Parameter(ParameterSetName = 'Remote')][ValidateRange(1, 1000)][int]$ThrottleLimit = 32,
        [ValidateSet('On', 'Off')][string]$DesiredState,
        [string]$Path,
        [ValidateRange(1, 86400)][int]$TimeoutSeconds = 20
    )
    begin { $names = @() }
    process { if ($ComputerName) { $names += $ComputerName } }
    end {
        if ($PSCmdlet.ParameterSetName -eq 'Local') {
            $results = @(Invoke-Local -Cmdlet $PSCmdlet -Path $Path -TimeoutSeconds $TimeoutSeconds -DesiredState $DesiredState)
        } else {
            $results = @(Invoke-Remote 'Get-QuickBoot' (Get-RemoteParameters $PSBoundParameters) $names $Session $ThrottleLimit $PSBoundParameters)
        }
        foreach ($result in $results) {
            Write-ResultError $PSCmdlet $result
            $result
        }
    }
}

<#
.SYNOPSIS
Brings the quick-boot switch to a state.
.DESCRIPTION
Reads first (as Get-QuickBoot) and writes (quickboot.exe /1 or /0) only when the switch differs.
Returns a QuickBoot.Result: Outcome compliant (already there), repaired (written: Changed is
$true, WriteExitCode 0), drift (-WhatIf) or error. A write that does not end within
-WriteTimeoutSeconds is not ended, since a write cut off halfway could leave the firmware setting
in any state: the cause is then write_still_running, and while it runs quickboot.exe starts no
second write (the cause is then write_in_progress). Supports -WhatIf and -Confirm for the write;
the read always runs.

Through -ComputerName or -Session (or any remote session) the write is waited for until it
ends, whatever -WriteTimeoutSeconds says: a program left running in a remote session is ended
with the session, and a write must never be cut off halfway. -Confirm asks once, here, for all
the machines.
.PARAMETER State
'On' or 'Off'.
.PARAMETER ComputerName
Runs on these machines through PowerShell remoting (WinRM), all at once up to -ThrottleLimit.
Binds from the pipeline by property name: ComputerName, DNSHostName (Get-ADComputer's output),
PSComputerName, or the alias CN. Name does not bind, as every process and file has one. The
QuickBoot module must be installed on each machine (the MSI installs it with the programs, so
the module and the programs there stay of one version and signature); where it is missing the
result's cause is not_installed. A machine that cannot be reached gives a result with the
cause unreachable and a non-terminating error, and never stops the others.
.PARAMETER Session
Runs in these sessions (New-PSSession, over WinRM or SSH) as -ComputerName does; both may be
given in one call.
.PARAMETER Credential
The account for -ComputerName over WinRM.
.PARAMETER SSHTransport
Reaches -ComputerName over SSH instead of WinRM (PowerShell 7), with -Port, -UserName and
-KeyFilePath.
.PARAMETER Port
The SSH port, with -SSHTransport.
.PARAMETER UserName
The SSH user, with -SSHTransport.
.PARAMETER KeyFilePath
The SSH key file, with -SSHTransport.
.PARAMETER ThrottleLimit
The most machines worked on at once.
.PARAMETER Path
quickboot.exe or its folder, as a full path. Default: as Get-QuickBoot.
.PARAMETER TimeoutSeconds
The longest the read, and the companion's report, may take.
.PARAMETER WriteTimeoutSeconds
How long to wait for the write.
.INPUTS
Objects with a ComputerName, DNSHostName or PSComputerName property (by property name), such
as the results of Get-QuickBoot.
.OUTPUTS
QuickBoot.Result
.EXAMPLE
Set-QuickBoot On

Switches quick boot on when it is off (asks first where $ConfirmPreference says so).
.EXAMPLE
Set-QuickBoot -State Off -WhatIf

Tells whether it would write; the result's Outcome is drift when it would.
.EXAMPLE
Set-QuickBoot -State On -Confirm:$false | Where-Object Outcome -eq 'error' | Select-Object Cause, Reason, Fix

Switches quick boot on unattended and shows what to do where it failed.
.EXAMPLE
Get-QuickBoot -ComputerName (Get-Content computers.txt) -DesiredState On | Where-Object Outcome -eq 'drift' | Set-QuickBoot -State On -Confirm:$false

Reads a list of machines and writes only on those that drifted.
#>
function Set-QuickBoot {
    [CmdletBinding(SupportsShouldProcess = $true, ConfirmImpact = 'Medium', PositionalBinding = $false,
        DefaultParameterSetName = 'Local')]
    [OutputType('QuickBoot.Result')]
    param(
        [Parameter(Mandatory = $true, Position = 0)][ValidateSet('On', 'Off')][string]$State,
        [Parameter(ParameterSetName = 'Remote', ValueFromPipelineByPropertyName = $true)]
        [Alias('CN', 'DNSHostName', 'PSComputerName')][ValidateNotNullOrEmpty()][string[]]$ComputerName,
        [Parameter(ParameterSetName = 'Remote')][System.Management.Automation.Runspaces.PSSession[]]$Session,
        [Parameter(ParameterSetName = 'Remote')][System.Management.Automation.PSCredential]$Credential,
        [Parameter(ParameterSetName = 'Remote')][switch]$SSHTransport,
        [Parameter(ParameterSetName = 'Remote')][ValidateRange(1, 65535)][int]$Port,
        [Parameter(ParameterSetName = 'Remote')][string]$UserName,
        [Parameter(ParameterSetName = 'Remote')][string]$KeyFilePath,
        [Parameter(ParameterSetName = 'Remote')][ValidateRange(1, 1000)][int]$ThrottleLimit = 32,
        [string]$Path,
        [ValidateRange(1, 86400)][int]$TimeoutSeconds = 20,
        [ValidateRange(1, 86400)][int]$WriteTimeoutSeconds = 300
    )
    begin { $names = @() }
    process { if ($ComputerName) { $names += $ComputerName } }
    end {
        $wanted = ConvertTo-StateName $State
        if ($PSCmdlet.ParameterSetName -eq 'Local') {
            $results = @(Invoke-Local -Cmdlet $PSCmdlet -Path $Path -TimeoutSeconds $TimeoutSeconds `
                    -DesiredState $wanted -Write -WriteTimeoutSeconds $WriteTimeoutSeconds)
        } else {
            # Asked here once for all; each machine then writes unasked, or only reads.
            $parameters = Get-RemoteParameters $PSBoundParameters
            $parameters.State = $wanted
            $parameters.Confirm = $false
            $where = @($names) + @($Session | ForEach-Object { $_.ComputerName }) -join ', '
            if (-not $PSCmdlet.ShouldProcess($where, "Switch quick boot $($wanted.ToLowerInvariant()) where it differs")) {
                $parameters.WhatIf = $true
            }
            $results = @(Invoke-Remote 'Set-QuickBoot' $parameters $names $Session $ThrottleLimit $PSBoundParameters)
        }
        foreach ($result in $results) {
            Write-ResultError $PSCmdlet $result
            $result
        }
    }
}

<#
.SYNOPSIS
Tells whether the quick-boot switch is in a state.
.DESCRIPTION
Reads as Get-QuickBoot does and returns $true when the switch is in -State, $false otherwise.
When the state is unknown it returns $false and writes the same non-terminating error as
Get-QuickBoot. With -PassThru it returns the QuickBoot.Result instead (Outcome compliant, drift
or error).
.PARAMETER State
The state to test for: 'On' or 'Off'.
.PARAMETER ComputerName
Runs on these machines through PowerShell remoting (WinRM), all at once up to -ThrottleLimit.
Binds from the pipeline by property name: ComputerName, DNSHostName (Get-ADComputer's output),
PSComputerName, or the alias CN. Name does not bind, as every process and file has one. The
QuickBoot module must be installed on each machine (the MSI installs it with the programs, so
the module and the programs there stay of one version and signature); where it is missing the
result's cause is not_installed. A machine that cannot be reached gives a result with the
cause unreachable and a non-terminating error, and never stops the others.
.PARAMETER Session
Runs in these sessions (New-PSSession, over WinRM or SSH) as -ComputerName does; both may be
given in one call.
.PARAMETER Credential
The account for -ComputerName over WinRM.
.PARAMETER SSHTransport
Reaches -ComputerName over SSH instead of WinRM (PowerShell 7), with -Port, -UserName and
-KeyFilePath.
.PARAMETER Port
The SSH port, with -SSHTransport.
.PARAMETER UserName
The SSH user, with -SSHTransport.
.PARAMETER KeyFilePath
The SSH key file, with -SSHTransport.
.PARAMETER ThrottleLimit
The most machines worked on at once.
.PARAMETER Path
quickboot.exe or its folder, as for Get-QuickBoot.
.PARAMETER TimeoutSeconds
The read's limit, as for Get-QuickBoot.
.PARAMETER PassThru
Returns the result rather than $true or $false.
.INPUTS
Objects with a ComputerName, DNSHostName or PSComputerName property (by property name).
.OUTPUTS
System.Boolean, or QuickBoot.Result with -PassThru.
.EXAMPLE
if (-not (Test-QuickBoot On)) { Set-QuickBoot -State On }

Switches quick boot on only where it is not.
.EXAMPLE
Test-QuickBoot -State Off -PassThru | ConvertTo-QuickBootStatus

Prints compliant, drift or error as a status line.
.EXAMPLE
$sessions = New-PSSession -HostName pc-0142, pc-0143 -UserName admin
Test-QuickBoot -State On -Session $sessions -PassThru | Select-Object ComputerName, Outcome

Tests two machines over SSH; with more than one machine, -PassThru tells which answer is whose.
#>
function Test-QuickBoot {
    [CmdletBinding(PositionalBinding = $false, DefaultParameterSetName = 'Local')]
    [OutputType([bool])]
    [OutputType('QuickBoot.Result')]
    param(
        [Parameter(Mandatory = $true, Position = 0)][ValidateSet('On', 'Off')][string]$State,
        [Parameter(ParameterSetName = 'Remote', ValueFromPipelineByPropertyName = $true)]
        [Alias('CN', 'DNSHostName', 'PSComputerName')][ValidateNotNullOrEmpty()][string[]]$ComputerName,
        [Parameter(ParameterSetName = 'Remote')][System.Management.Automation.Runspaces.PSSession[]]$Session,
        [Parameter(ParameterSetName = 'Remote')][System.Management.Automation.PSCredential]$Credential,
        [Parameter(ParameterSetName = 'Remote')][switch]$SSHTransport,
        [Parameter(ParameterSetName = 'Remote')][ValidateRange(1, 65535)][int]$Port,
        [Parameter(ParameterSetName = 'Remote')][string]$UserName,
        [Parameter(ParameterSetName = 'Remote')][string]$KeyFilePath,
        [Parameter(ParameterSetName = 'Remote')][ValidateRange(1, 1000)][int]$ThrottleLimit = 32,
        [string]$Path,
        [ValidateRange(1, 86400)][int]$TimeoutSeconds = 20,
        [switch]$PassThru
    )
    begin { $names = @() }
    process { if ($ComputerName) { $names += $ComputerName } }
    end {
        $wanted = ConvertTo-StateName $State
        if ($PSCmdlet.ParameterSetName -eq 'Local') {
            $results = @(Invoke-Local -Cmdlet $PSCmdlet -Path $Path -TimeoutSeconds $TimeoutSeconds -DesiredState $wanted)
        } else {
            $parameters = Get-RemoteParameters $PSBoundParameters
            $parameters.PassThru = $true
            $results = @(Invoke-Remote 'Test-QuickBoot' $parameters $names $Session $ThrottleLimit $PSBoundParameters)
        }
        foreach ($result in $results) {
            Write-ResultError $PSCmdlet $result
            if ($PassThru) { $result } else { $result.Outcome -eq 'compliant' }
        }
    }
}

<#
.SYNOPSIS
Turns results into status lines.
.DESCRIPTION
Gives, for each QuickBoot.Result (or any object with the same properties), the one line
management systems keep:
<outcome>: <cause>: <reason> | manufacturer=<m>; model=<p>; firmware=<v>; firmware_date=<d>; quickboot=<q>
at most 2,048 characters (the reason is cut at a blank, with '...'), with no line end inside.
A result without an outcome (a read without -DesiredState that worked) gives an error instead.
.PARAMETER Outcome
compliant, drift, repaired, not_applicable or error.
.PARAMETER Cause
The cause token.
.PARAMETER Reason
The readable reason.
.PARAMETER Manufacturer
The machine's maker.
.PARAMETER Model
The machine's model.
.PARAMETER Firmware
The firmware version.
.PARAMETER FirmwareDate
The firmware's date.
.PARAMETER Version
quickboot.exe's version.
.INPUTS
QuickBoot.Result (by property name).
.OUTPUTS
System.String
.EXAMPLE
Set-QuickBoot -State On -Confirm:$false | ConvertTo-QuickBootStatus

repaired: quick_boot_on: quick boot switched on | manufacturer=Contoso; model=X1; firmware=1.2; firmware_date=01/02/2025; quickboot=1.0.0

The line a remediation script prints.
#>
function ConvertTo-QuickBootStatus {
    [CmdletBinding(PositionalBinding = $false)]
    [OutputType([string])]
    param(
        [Parameter(ValueFromPipelineByPropertyName = $true)][AllowNull()][AllowEmptyString()][string]$Outcome,
        [Parameter(ValueFromPipelineByPropertyName = $true)][AllowNull()][AllowEmptyString()][string]$Cause,
        [Parameter(ValueFromPipelineByPropertyName = $true)][AllowNull()][AllowEmptyString()][string]$Reason,
        [Parameter(ValueFromPipelineByPropertyName = $true)][AllowNull()][AllowEmptyString()][string]$Manufacturer,
        [Parameter(ValueFromPipelineByPropertyName = $true)][AllowNull()][AllowEmptyString()][string]$Model,
        [Parameter(ValueFromPipelineByPropertyName = $true)][AllowNull()][AllowEmptyString()][string]$Firmware,
        [Parameter(ValueFromPipelineByPropertyName = $true)][AllowNull()][AllowEmptyString()][string]$FirmwareDate,
        [Parameter(ValueFromPipelineByPropertyName = $true)][AllowNull()][AllowEmptyString()][string]$Version
    )
    process {
        if ($Outcome -notmatch '^(compliant|drift|repaired|not_applicable|error)$' -or $Cause -notmatch '^[a-z0-9_]+$') {
            $exception = New-Object System.ArgumentException ("no status line for outcome '$Outcome' and cause '$Cause': a read gives an outcome with -DesiredState")
            $PSCmdlet.WriteError((New-Object System.Management.Automation.ErrorRecord ($exception,
                        'bad_setting', [System.Management.Automation.ErrorCategory]::InvalidArgument, $Outcome)))
            return
        }
        Format-StatusLine -Outcome $Outcome -Cause $Cause -Reason $Reason -Manufacturer $Manufacturer `
            -Model $Model -Firmware $Firmware -FirmwareDate $FirmwareDate -Version $Version
    }
}

<#
.SYNOPSIS
The diagnostic companion's report, as one flat object.
.DESCRIPTION
Runs quickboot-diag.exe --json (beside quickboot.exe) and returns a summary of one level:
ComputerName, Cause, Verdict, ExitCode, What, Fix, the registry values InstPath and DllName,
the library's path, the load and the read as the companion found them, the companion's
version, and the machine's maker, model and firmware. With -Raw it returns the companion's JSON
text unchanged. It changes nothing. When the companion is not installed, does not answer within
-TimeoutSeconds or prints no report, it returns nothing and writes a non-terminating error whose
id starts with not_installed, timed_out or no_report.
.PARAMETER Path
quickboot.exe or its folder, beside which the companion lies. Default: as Get-QuickBoot.
.PARAMETER TimeoutSeconds
The longest the companion may take.
.PARAMETER Raw
Returns the companion's JSON text as it printed it.
.INPUTS
None.
.OUTPUTS
QuickBoot.Diagnosis, or System.String with -Raw.
.EXAMPLE
Get-QuickBootDiagnosis | Format-List Cause, Verdict, Fix

Why quickboot.exe fails here, and what to do.
.EXAMPLE
Get-QuickBootDiagnosis -Raw | Set-Content -Encoding UTF8 "$env:TEMP\quickboot-diag.json"

Keeps the full report for the library's vendor.
#>
function Get-QuickBootDiagnosis {
    [CmdletBinding(PositionalBinding = $false)]
    [OutputType('QuickBoot.Diagnosis')]
    [OutputType([string])]
    param(
        [string]$Path,
        [ValidateRange(1, 86400)][int]$TimeoutSeconds = 20,
        [switch]$Raw
    )
    $failure = $null
    $found = Find-Program $Path
    $companion = $null
    if ($found.BadSetting) {
        $failure = New-Call $null $null 'bad_setting' $found.Why
    } elseif (-not $found.Program) {
        $failure = New-Call $null $null 'not_installed' "quickboot-diag.exe not found: $($found.Why)"
    } else {
        $companion = Find-Companion $found.Program
        if (-not $companion) {
            $failure = New-Call $null $null 'not_installed' "quickboot-diag.exe not found beside $($found.Program)"
        }
    }
    if (-not $failure) {
        $run = Invoke-Program -FilePath $companion -Arguments "--json --timeout $(Get-CompanionLimit $TimeoutSeconds)" `
            -TimeoutSeconds $TimeoutSeconds
        $report = $null
        try { if ($run.Output.Trim()) { $report = $run.Output | ConvertFrom-Json } } catch { }
        if ($run.StartError) {
            $failure = New-Call $null $null 'could_not_start' "quickboot-diag.exe could not be started: $($run.StartError)"
        } elseif ($run.TimedOut) {
            $failure = New-Call $null $null 'timed_out' "quickboot-diag.exe did not answer within $TimeoutSeconds seconds and was ended"
        } elseif ($null -eq $report) {
            $failure = New-Call $null $run.ExitCode 'no_report' "quickboot-diag.exe --json answered $($run.ExitCode) without a report"
        } elseif ($Raw) {
            return $run.Output
        }
    }
    if ($failure) {
        $result = New-Result -ComputerName ([System.Environment]::MachineName) -Outcome 'error' -Cause $failure.Cause `
            -Reason $failure.Reason -ReadExitCode $failure.ExitCode
        Write-ResultError $PSCmdlet $result
        return
    }
    $identity = Get-HardwareIdentity
    [pscustomobject]@{
        PSTypeName = 'QuickBoot.Diagnosis'
        ComputerName = [System.Environment]::MachineName
        Cause = Get-JsonValue $report 'cause'
        Verdict = Get-JsonValue $report 'verdict'
        ExitCode = Get-JsonValue $report 'exit_code'
        What = Get-JsonValue $report 'what'
        Fix = Get-JsonValue $report 'fix'
        InstPath = Get-JsonValue $report 'registry.values.inst_path.text'
        DllName = Get-JsonValue $report 'registry.values.dll_name.text'
        LibraryPath = Get-JsonValue $report 'path.text'
        Load = Get-JsonValue $report 'load.outcome'
        LoadError = Get-JsonValue $report 'load.error.message'
        Read = Get-JsonValue $report 'read.outcome'
        CompanionVersion = Get-JsonValue $report 'version'
        Manufacturer = Format-Field $identity.Manufacturer
        Model = Format-Field $identity.Model
        Firmware = Format-Field $identity.Firmware
        FirmwareDate = Format-Field $identity.FirmwareDate
    }
}

Export-ModuleMember -Function Get-QuickBoot, Set-QuickBoot, Test-QuickBoot, Get-QuickBootDiagnosis, ConvertTo-QuickBootStatus
