# The QuickBoot module and every PowerShell wrapper in deploy/, run for real: quickboot.exe and
# the diagnostic companion under wine, with the simulated control library behind them. Each
# installed program is a stand-in: a shell script of the same name that notes the folder it runs
# in and its process id, then starts wine with the real program. The wrappers run in a PowerShell
# of their own, as a management agent starts them, and find the module and the programs under
# ProgramW6432 as on a machine.
# Run by tests/deploy/run-pester, which sets QB_SOURCE (the source tree), QB_BIN (the Windows
# build's programs), QB_PREFIX (the wine prefix) and QB_PWSH (PowerShell 7).

# What the tables below need when Pester reads them.
BeforeDiscovery {
    # A status line's fields where nothing reads them (the wrappers' own PowerShell here).
    $NoFields = ' | manufacturer=; model=; firmware=; firmware_date=; quickboot='
    $CannotUse = 'the control library could not be located, loaded or called'
    $Read = @('attach', 'call 1 0 0', 'detach FreeLibrary')
    function ReadThenWrite([string]$Word) {
        return $Read + @('attach', 'call 1 0 0', "call 1 1 $Word", 'detach FreeLibrary')
    }
    # The machine set-ups every kit shares, with the outcome and cause each must give them
    # (desired state On); the Ansible role's and the start-up script's tests read it too.
    $KitCases = Get-Content -Raw (Join-Path $env:QB_SOURCE 'tests/deploy/kit-cases.json') | ConvertFrom-Json -AsHashtable
    $KitCases.Remove('_')
    # A row's set-up and the outcome and cause the shared table gives it.
    function KitCase([string]$SetUp) {
        if (-not $KitCases.Contains($SetUp)) { throw "kit-cases.json has no set-up $SetUp" }
        return @{ SetUp = $SetUp; Outcome = $KitCases[$SetUp].outcome; Cause = $KitCases[$SetUp].cause }
    }
}

BeforeAll {
    $Source = $env:QB_SOURCE
    $Bin = $env:QB_BIN
    $Prefix = $env:QB_PREFIX
    $WineRun = Join-Path $Source 'cmake/wine-run'
    $Pwsh = $env:QB_PWSH
    $Work = Join-Path ([IO.Path]::GetTempPath()) "qb-pester-$PID"
    $Library = Join-Path $Work 'library'
    $StateFile = Join-Path $Library 'ctlsim.dll.state'
    $script:Case = 0  # each case logs to a file of its own: a program left running logs late
    $Usual = Join-Path $Work 'Program Files'
    $NonAscii = Join-Path $Work "Pr$([char]0xF6)gramme $([char]0xC9)t$([char]0xE9)"
    $Empty = Join-Path $Work 'empty'
    $ControlKey = 'HKLM\SOFTWARE\Vantrel\ZKT05B9'
    $SavedKey = Join-Path $Work 'saved-key.reg'

    $Places = @{ usual = $Usual; nonascii = $NonAscii; empty = $Empty }
    $ResultProperties = @('ComputerName', 'State', 'DesiredState', 'Changed', 'Outcome', 'Cause', 'Reason', 'Fix',
        'ReadExitCode', 'WriteExitCode', 'Manufacturer', 'Model', 'Firmware', 'FirmwareDate', 'Version', 'Timestamp', 'StatusLine')
    # The fleet's one pattern for a status line.
    $StatusPattern = '^(?<outcome>compliant|drift|repaired|not_applicable|error): (?<cause>[a-z0-9_]+): (?<reason>.*?)(?: \| manufacturer=(?<manufacturer>[^;|]*); model=(?<model>[^;|]*); firmware=(?<firmware>[^;|]*); firmware_date=(?<firmware_date>[^;|]*); quickboot=(?<version>[^;|]*))?$'
    $Causes = @{}
    foreach ($row in (Import-PowerShellDataFile (Join-Path $Source 'powershell/QuickBoot/QuickBoot.Causes.psd1')).Causes) { $Causes[$row.Token] = $row.Fix }

    # A row's text with {ProgramFiles} (the Unix path) and {Folder} (the program folder as the
    # programs see it under wine) filled in.
    function Expand-Row([string]$Text, [string]$ProgramFiles) {
        if (-not $ProgramFiles) { return $Text }
        $folder = 'Z:' + ((Join-Path $ProgramFiles 'quickboot') -replace '/', '\')
        return $Text.Replace('{ProgramFiles}', $ProgramFiles).Replace('{Folder}', $folder)
    }

    function Invoke-Wine {
        & $WineRun $Prefix @args 2>&1 | Out-Null
        return $LASTEXITCODE
    }

    function New-StandIn([string]$Path, [string]$Target) {
        # A write switch picks up QB_WRITE_EXIT as the library's CTLSIM_EXIT: a write that hangs
        # after a read that answered.
        $text = "#!/bin/sh`n" +
            "echo `"`$`$ `$(pwd)`" >>`"`$QB_RUN_LOG`"`n" +
            "case `"`$1`" in /[01]) [ -n `"`${QB_WRITE_EXIT:-}`" ] && export CTLSIM_EXIT=`"`$QB_WRITE_EXIT`" ;; esac`n" +
            "exec '$WineRun' '$Prefix' '$Target' `"`$@`"`n"
        [IO.File]::WriteAllText($Path, $text)
        & chmod +x $Path
    }

    # A Program Files folder with quickboot.exe and the module where the installer puts them.
    function New-Installation([string]$ProgramFiles) {
        $folder = Join-Path $ProgramFiles 'quickboot'
        $modules = Join-Path $ProgramFiles 'WindowsPowerShell/Modules'
        New-Item -ItemType Directory -Force -Path $folder, $modules | Out-Null
        Copy-Item -Recurse -Path (Join-Path $Source 'powershell/QuickBoot') -Destination $modules
        New-StandIn (Join-Path $folder 'quickboot.exe') (Join-Path $Bin 'quickboot.exe')
    }

    # Puts the case's companion beside quickboot.exe: 'none', 'fake' (the stand-in's) or 'real'.
    function Set-Companion([string]$ProgramFiles, [string]$Companion) {
        $path = Join-Path $ProgramFiles 'quickboot/quickboot-diag.exe'
        Remove-Item -LiteralPath $path -ErrorAction SilentlyContinue
        if ($Companion -eq 'fake') { New-StandIn $path (Join-Path $Bin 'fake_diag.exe') }
        if ($Companion -eq 'real') { New-StandIn $path (Join-Path $Bin 'quickboot-diag.exe') }
    }

    # Everything a case starts from: the library in place (or not) with its state word, no
    # switches, empty logs, ProgramW6432 naming the usual installation.
    function Reset-Machine([string]$Word, [bool]$LibraryPresent = $true) {
        $dll = Join-Path $Library 'ctlsim.dll'
        if ($LibraryPresent) { Copy-Item (Join-Path $Bin 'ctlsim.dll') $dll } else { Remove-Item $dll -ErrorAction SilentlyContinue }
        [IO.File]::WriteAllText($StateFile, "$Word`n")
        $script:Case++
        $script:LibraryLog = Join-Path $Work "ctlsim-$script:Case.log"
        $script:RunLog = Join-Path $Work "runs-$script:Case.log"  # the stand-ins' "<pid> <folder>"
        Remove-Item $LibraryLog, $RunLog -ErrorAction SilentlyContinue
        foreach ($name in 'CTLSIM_EXIT', 'CTLSIM_WRITE_STATUS', 'CTLSIM_READ_STATUS', 'CTLSIM_STATE', 'QB_WRITE_EXIT') {
            Remove-Item "env:$name" -ErrorAction SilentlyContinue
        }
        $env:CTLSIM_LOG = $LibraryLog
        $env:QB_RUN_LOG = $RunLog
        $env:ProgramW6432 = $Usual
        Set-Companion $Usual 'none'
        Set-Companion $NonAscii 'none'
    }

    # Ends a stand-in left running and the program it started under wine: a write left running
    # holds the write lock, and later writes must run.
    function Stop-Run([int]$Id) {
        foreach ($child in @(Get-Process | Where-Object { $_.Parent -and $_.Parent.Id -eq $Id })) {
            Stop-Process -Id $child.Id -Force -ErrorAction SilentlyContinue
        }
        Stop-Process -Id $Id -Force -ErrorAction SilentlyContinue
    }

    function Get-Lines([string]$Path) {
        if (Test-Path -LiteralPath $Path) { return @(Get-Content -LiteralPath $Path) }
        return @()
    }

    # Runs a wrapper as a management agent does, in a PowerShell of its own, from a folder that
    # is not the program's. Returns @{ ExitCode; Out; Err } (the lines printed).
    function Invoke-Wrapper([string]$Wrapper, [string]$Desired, [string[]]$Arguments = @(),
        [hashtable]$Settings = @{}) {
        $text = [IO.File]::ReadAllText((Join-Path $Source "deploy/$Wrapper"))
        $Settings['DesiredState'] = "'$Desired'"
        foreach ($name in $Settings.Keys) {
            $pattern = "(?m)^\`$$name = [^\r\n]*?(?=\s*(#[^\r\n]*)?\r?$)"
            $matches = [regex]::Matches($text, $pattern)
            if ($name -ne 'DesiredState' -or $matches.Count -gt 0) {
                $matches.Count | Should -Be 1 -Because "one setting line `$$name in $Wrapper"
                $text = [regex]::Replace($text, $pattern, "`$$name = $($Settings[$name])")
            }
        }
        $copy = Join-Path $Work ('wrapper-' + ($Wrapper -replace '/', '-'))
        [IO.File]::WriteAllText($copy, $text)
        $info = New-Object System.Diagnostics.ProcessStartInfo
        $info.FileName = $Pwsh
        foreach ($argument in @('-NoProfile', '-NonInteractive', '-File', $copy) + $Arguments) {
            $info.ArgumentList.Add($argument)
        }
        $info.WorkingDirectory = $Work
        $info.UseShellExecute = $false
        $info.RedirectStandardOutput = $true
        $info.RedirectStandardError = $true
        $process = [System.Diagnostics.Process]::Start($info)
        $out = $process.StandardOutput.ReadToEndAsync()
        $err = $process.StandardError.ReadToEndAsync()
        if (-not $process.WaitForExit(120000)) {
            $process.Kill()
            throw "$Wrapper did not end within 120 seconds"
        }
        $null = $out.Wait(10000), $err.Wait(10000)
        return @{
            ExitCode = $process.ExitCode
            Out = @($out.Result -split "`r?`n" | Where-Object { $_ })
            Err = @($err.Result -split "`r?`n" | Where-Object { $_ })
        }
    }

    New-Item -ItemType Directory -Force -Path $Library, $Empty | Out-Null
    New-Installation $Usual
    New-Installation $NonAscii
    $libraryFolder = 'Z:' + ($Library -replace '/', '\')
    $script:HadKey = (Invoke-Wine reg export $ControlKey ('Z:' + ($SavedKey -replace '/', '\')) /reg:64 /y) -eq 0
    Invoke-Wine reg add $ControlKey /v InstPath /t REG_SZ /d $libraryFolder /reg:64 /f | Should -Be 0
    Invoke-Wine reg add $ControlKey /v DllName /t REG_SZ /d ctlsim.dll /reg:64 /f | Should -Be 0
    Import-Module (Join-Path $Usual 'WindowsPowerShell/Modules/QuickBoot/QuickBoot.psd1') -Force
}

AfterAll {
    Invoke-Wine reg delete $ControlKey /reg:64 /f | Out-Null
    if ($script:HadKey) { Invoke-Wine reg import ('Z:' + ($SavedKey -replace '/', '\')) /reg:64 | Out-Null }
    Remove-Item -Recurse -Force -LiteralPath $Work -ErrorAction SilentlyContinue
}

Describe 'The QuickBoot module' {
    BeforeAll {
        # What the firmware and quickboot.exe's version resource would tell on Windows.
        Mock -ModuleName QuickBoot Get-HardwareIdentity {
            @{ Manufacturer = "Vantrel;|Systems`t Inc"; Model = ('M' * 70); Firmware = "  V1.2`n2024  "; FirmwareDate = '03/04/2024' }
        }
        Mock -ModuleName QuickBoot Get-ProgramVersion { '1.0.0' }
    }

    # One row a case: the machine, the command, and the result it must give; a row of a shared
    # set-up takes its outcome and cause from kit-cases.json.
    $rows = @(
        # The hardware fields as the mocked firmware gives them: ';', '|' and control characters
        # blanked, trimmed, cut to 64.
        @{ Name = 'off'; Word = '0'; Command = { Get-QuickBoot }
            State = 'Off'; ReadCode = 0; Cause = 'quick_boot_off'; Reason = 'quick boot is off'; Log = $Read
            Hardware = 'Vantrel  Systems  Inc', ('M' * 64), 'V1.2 2024', '03/04/2024', '1.0.0' }
        @{ Name = 'on (other bits set), compliant'; Word = '7'; Command = { Get-QuickBoot -DesiredState On }
            State = 'On'; ReadCode = 1; Reason = 'quick boot is on'; Log = $Read } + (KitCase 'on')
        @{ Name = 'off, drift'; Word = '0'; Command = { Get-QuickBoot -DesiredState on }
            State = 'Off'; ReadCode = 0; Reason = 'quick boot is off, wanted on'; Log = $Read } + (KitCase 'off_read_only')
        # The defects "-State on comes back as on" and "ExitCode 0 after a write where a read of on gives 1".
        @{ Name = 'drift to on: written'; Word = '1'; Command = { Set-QuickBoot -State on -Confirm:$false }
            State = 'On'; ReadCode = 0; WriteCode = 0; Reason = 'quick boot switched on'; Changed = $true
            Log = (ReadThenWrite '3'); WordAfter = '3' } + (KitCase 'off')
        @{ Name = 'drift to off: written'; Word = '2'; Command = { Set-QuickBoot Off -Confirm:$false }
            State = 'Off'; ReadCode = 1; WriteCode = 0; Outcome = 'repaired'; Cause = 'quick_boot_off'; Reason = 'quick boot switched off'; Changed = $true
            Log = (ReadThenWrite '0'); WordAfter = '0' }
        @{ Name = 'in the state already: read only'; Word = '2'; Command = { Set-QuickBoot -State On }
            State = 'On'; ReadCode = 1; Reason = 'quick boot is on'; Changed = $false; Log = $Read } + (KitCase 'on')
        @{ Name = '-WhatIf reads and does not write'; Word = '0'; Command = { Set-QuickBoot -State On -WhatIf }
            State = 'Off'; ReadCode = 0; Reason = 'quick boot is off, wanted on'; Changed = $false; Log = $Read } + (KitCase 'off_read_only')
        @{ Name = 'Test-QuickBoot, in the state'; Word = '2'; Command = { Test-QuickBoot -State On }
            Value = $true; Log = $Read }
        @{ Name = 'Test-QuickBoot, not in the state'; Word = '2'; Command = { Test-QuickBoot Off }
            Value = $false; Log = $Read }
        # The defect "Test-QuickBoot answers $true when the state is unknown" goes unnoticed without it.
        @{ Name = 'Test-QuickBoot, the state unknown'; Word = '0'; NoLibrary = $true; Command = { Test-QuickBoot -State On }
            Value = $false; ValueErrors = 1 }
        @{ Name = 'Test-QuickBoot -PassThru'; Word = '2'; Command = { Test-QuickBoot -State Off -PassThru }
            State = 'On'; ReadCode = 1; Outcome = 'drift'; Cause = 'quick_boot_on'; Reason = 'quick boot is on, wanted off'; Log = $Read }
        @{ Name = '100 without the companion'; Word = '0'; NoLibrary = $true; Command = { Set-QuickBoot -State On -Confirm:$false }
            ReadCode = 100; Reason = "quickboot.exe /g answered 100: $CannotUse"; Category = 'InvalidResult' } + (KitCase 'library_missing')
        # The companion's verdict without its own "quickboot-diag: <cause>: ", its fix apart.
        @{ Name = '100: the companion''s cause and verdict'; Word = '0'; NoLibrary = $true; Companion = 'fake'
            Command = { Get-QuickBoot }; ReadCode = 100; Cause = 'wrong_architecture'; Category = 'InvalidData'
            Reason = "cannot load C:\R&D (x86)\ctl.dll: error 193: the file is a 32-bit (x86) library; a 64-bit one is needed (seen from {Folder})"
            Fix = 'install the vendor''s 64-bit library' }
        @{ Name = '100 with the real companion'; Word = '0'; NoLibrary = $true; Companion = 'real'
            Command = { Set-QuickBoot -State On -Confirm:$false }; ReadCode = 100
            ReasonLike = '^(?!quickboot-diag: ).*ctlsim\.dll' } + (KitCase 'library_missing_companion')
        # The defect "the companion's verdict replaces the real failure": the write failed, the
        # read works, so the companion's "quick boot is off" only follows the failing call.
        @{ Name = 'failed write: the call leads, the verdict follows'; Word = '0'; Companion = 'fake'
            WriteStatus = '5'; Command = { Set-QuickBoot -State On -Confirm:$false }
            ReadCode = 0; WriteCode = 100; Changed = $false; Log = (ReadThenWrite '2') + $Read; Category = 'InvalidResult'
            Reason = "quickboot.exe /1 answered 100: $CannotUse; quickboot-diag: quick_boot_off: quick boot is off" } + (KitCase 'write_fails')
        @{ Name = 'an exit code of the library''s own'; Word = '2'; Exit = '7'; Command = { Set-QuickBoot -State On -Confirm:$false }
            ReadCode = 7; Category = 'InvalidResult'
            Reason = 'quickboot.exe /g answered 7: none of its answers; the control library may have ended the process' } + (KitCase 'library_ends_process')
        @{ Name = 'a hung read is ended at the limit'; Word = '0'; Exit = 'hang'
            Command = { Set-QuickBoot -State On -TimeoutSeconds 3 -Confirm:$false }
            Changed = $false; Category = 'OperationTimeout'
            Reason = 'quickboot.exe /g did not answer within 3 seconds and was ended'; Ended = $true } + (KitCase 'read_hangs')
        # The defect "writes have no limit": the call returns at the limit, the write goes on.
        @{ Name = 'a hung write is left running at the limit'; Word = '0'; WriteExit = 'hang'
            Command = { Set-QuickBoot -State On -WriteTimeoutSeconds 3 -Confirm:$false }
            ReadCode = 0; Changed = $false; StillRunning = $true; Category = 'OperationTimeout'
            Reason = 'quickboot.exe /1 did not end within 3 seconds; it was left running, since a write cut off halfway could leave any state' } + (KitCase 'write_hangs')
        # The program folder: -Path alone, else InstallDir, else ProgramW6432, else beside the module.
        @{ Name = 'not installed'; Word = '0'; Where = 'empty'; Command = { Get-QuickBoot }; Category = 'ObjectNotFound'
            Cause = 'not_installed'; ReasonLike = '^quickboot\.exe not found: HKLM\\SOFTWARE\\quickboot\\InstallDir is missing; .*/empty/quickboot/quickboot\.exe does not exist; '; Log = @(); NoRuns = $true }
        @{ Name = 'not installed: -Path names a missing file'; Word = '0'; Command = { Get-QuickBoot -Path (Join-Path $env:ProgramW6432 'quickboot.exe') }
            Cause = 'not_installed'; ReasonLike = '^quickboot\.exe not found: [^;]*/Program Files/quickboot\.exe \(-Path\) does not exist$'; Log = @(); NoRuns = $true }
        @{ Name = '-Path: a relative path is refused'; Word = '0'; Command = { Get-QuickBoot -Path 'quickboot' }; Category = 'InvalidArgument'
            Cause = 'bad_setting'; Reason = '-Path is not a full path: quickboot'; Log = @(); NoRuns = $true }
        @{ Name = '-Path: the program folder'; Word = '0'; Where = 'nonascii'; Command = { Get-QuickBoot -Path (Join-Path $env:ProgramW6432 'quickboot') }
            State = 'Off'; ReadCode = 0; Cause = 'quick_boot_off'; Reason = 'quick boot is off'; Log = $Read }
        @{ Name = 'InstallDir without ProgramW6432'; Word = '0'; Where = 'nonascii'; InstallDir = 'nonascii'; NoProgramFiles = $true
            Command = { Get-QuickBoot }; State = 'Off'; ReadCode = 0; Cause = 'quick_boot_off'; Reason = 'quick boot is off'; Log = $Read }
        @{ Name = 'InstallDir before ProgramW6432'; Word = '0'; Where = 'nonascii'; InstallDir = 'nonascii'; EnvPlace = 'usual'
            Command = { Get-QuickBoot }; State = 'Off'; ReadCode = 0; Cause = 'quick_boot_off'; Reason = 'quick boot is off'; Log = $Read }
        @{ Name = 'neither InstallDir nor ProgramW6432'; Word = '0'; NoProgramFiles = $true; Command = { Get-QuickBoot }
            Cause = 'not_installed'; Log = @(); NoRuns = $true; Category = 'ObjectNotFound'
            ReasonLike = '^quickboot\.exe not found: HKLM\\SOFTWARE\\quickboot\\InstallDir is missing; ProgramW6432 is not set; [^;]*/QuickBoot/quickboot\.exe does not exist; ' }
        # Non-ASCII folder names: started there, and the companion's text decoded as it writes it.
        @{ Name = 'a non-ASCII program folder'; Word = '0'; Where = 'nonascii'
            Command = { Set-QuickBoot -State On -Confirm:$false }; State = 'On'; ReadCode = 0; WriteCode = 0; Outcome = 'repaired'
            Cause = 'quick_boot_on'; Reason = 'quick boot switched on'; Changed = $true; Log = (ReadThenWrite '2'); WordAfter = '2' }
        @{ Name = 'a non-ASCII program folder, the companion''s verdict'; Word = '0'; Where = 'nonascii'
            NoLibrary = $true; Companion = 'fake'; Command = { Get-QuickBoot }; ReadCode = 100; Cause = 'wrong_architecture'
            Fix = 'install the vendor''s 64-bit library'
            Reason = "cannot load C:\R&D (x86)\ctl.dll: error 193: the file is a 32-bit (x86) library; a 64-bit one is needed (seen from {Folder})" }
    )
    It 'every shared set-up has a row here' -ForEach @(@{ Missing = @($KitCases.Keys | Where-Object { $_ -notin $rows.SetUp }) }) {
        $Missing | Should -BeNullOrEmpty
    }
    It '<Name>' -ForEach $rows {
        Reset-Machine $Word (-not $NoLibrary)
        $programFiles = $Places[$(if ($Where) { $Where } else { 'usual' })]
        $env:ProgramW6432 = $Places[$(if ($EnvPlace) { $EnvPlace } elseif ($Where) { $Where } else { 'usual' })]
        if ($NoProgramFiles) { Remove-Item env:ProgramW6432 }
        $installDir = if ($InstallDir) { Join-Path $Places[$InstallDir] 'quickboot' }
        Mock -ModuleName QuickBoot Get-InstallDirSetting { $installDir }
        if ($Companion) { Set-Companion $programFiles $Companion }
        if ($Exit) { $env:CTLSIM_EXIT = $Exit }
        if ($WriteExit) { $env:QB_WRITE_EXIT = $WriteExit }
        if ($WriteStatus) { $env:CTLSIM_WRITE_STATUS = $WriteStatus }
        $all = @(& $Command 2>&1)
        $errors = @($all | Where-Object { $_ -is [System.Management.Automation.ErrorRecord] })
        $result = $all | Where-Object { $_ -isnot [System.Management.Automation.ErrorRecord] }
        try {
            if ($null -ne $Value) {
                @($result).Count | Should -Be 1
                $result | Should -BeOfType [bool]
                $result | Should -Be $Value
                $errors.Count | Should -Be ([int]$ValueErrors)
            } else {
                @($result).Count | Should -Be 1
                $result.PSTypeNames[0] | Should -Be 'QuickBoot.Result'
                $result.PSObject.Properties.Name | Should -Be $ResultProperties
                $result.State | Should -BeExactly $State
                $result.ReadExitCode | Should -Be $ReadCode
                $result.WriteExitCode | Should -Be $WriteCode
                $outcome = if ($Outcome) { $Outcome } elseif ($null -eq $State) { 'error' }
                $result.Outcome | Should -BeExactly $outcome
                $result.Cause | Should -BeExactly $Cause
                if ($ReasonLike) { $result.Reason | Should -Match $ReasonLike } else { $result.Reason | Should -BeExactly (Expand-Row $Reason $programFiles) }
                $fix = if ($Fix) { $Fix } elseif ($Causes.ContainsKey($result.Cause)) { $Causes[$result.Cause] } else { '' }
                $result.Fix | Should -BeExactly $fix
                $result.ComputerName | Should -Be ([Environment]::MachineName)
                if ($null -ne $Changed) { $result.Changed | Should -Be $Changed }
                $result.Timestamp.Kind | Should -Be 'Utc'
                if ($outcome) {
                    $result.StatusLine -match $StatusPattern | Should -BeTrue -Because $result.StatusLine
                    $Matches.reason | Should -BeExactly $result.Reason
                    $result.StatusLine | Should -BeExactly ($result | ConvertTo-QuickBootStatus)
                } else {
                    $result.StatusLine | Should -BeNullOrEmpty
                }
                if ($Hardware) {
                    @($result.Manufacturer, $result.Model, $result.Firmware, $result.FirmwareDate, $result.Version) | Should -Be $Hardware
                }
                if ($null -eq $State) {
                    # A result of unknown state is also an error whose id starts with the cause, whose
                    # category fits the cause, whose target is the result and whose action the fix.
                    $errors.Count | Should -Be 1
                    $errors[0].FullyQualifiedErrorId | Should -BeLike "$($result.Cause),*"
                    $errors[0].TargetObject.PSTypeNames[0] | Should -Be 'QuickBoot.Result'
                    $errors[0].ErrorDetails.RecommendedAction | Should -BeExactly $result.Fix
                    if ($Category) { $errors[0].CategoryInfo.Category | Should -Be $Category }
                } else {
                    $errors | Should -BeNullOrEmpty
                }
            }
            $runs = @(Get-Lines $RunLog)
            foreach ($run in $runs) {
                # Every program ran in its own folder, never in the caller's.
                ($run -split ' ', 2)[1] | Should -Be (Join-Path $programFiles 'quickboot')
            }
            if ($null -ne $Log) { Get-Lines $LibraryLog | Should -Be $Log }
            if ($NoRuns) { $runs | Should -BeNullOrEmpty }
            Get-Lines $StateFile | Should -Be @($(if ($WordAfter) { $WordAfter } else { $Word }))
            if ($StillRunning -or $Ended) {
                $write = ($runs[-1] -split ' ', 2)[0]
                $alive = $null -ne (Get-Process -Id $write -ErrorAction SilentlyContinue)
                $alive | Should -Be ([bool]$StillRunning)
            }
        } finally {
            # A write left running holds the write lock: ended, so that later writes can run.
            if ($StillRunning) { Stop-Run ((Get-Lines $RunLog)[-1] -split ' ', 2)[0] }
        }
    }

    It 'every command has help: a synopsis, its inputs and outputs, examples each explained' {
        foreach ($command in Get-Command -Module QuickBoot) {
            $help = Get-Help $command.Name -Full
            $help.Synopsis | Should -Not -BeLike "*$($command.Name)*" -Because "$($command.Name) has a synopsis of its own"
            ($help.inputTypes | Out-String).Trim() | Should -Not -BeNullOrEmpty -Because "$($command.Name) names its inputs"
            ($help.returnValues | Out-String).Trim() | Should -Not -BeNullOrEmpty -Because "$($command.Name) names its outputs"
            @($help.examples.example).Count | Should -BeGreaterThan 0 -Because "$($command.Name) has examples"
            foreach ($example in $help.examples.example) {
                ($example.remarks | Out-String).Trim() | Should -Not -BeNullOrEmpty -Because "every example of $($command.Name) is explained"
            }
        }
        @(Get-Command -Module QuickBoot).Count | Should -Be @((Import-PowerShellDataFile (Join-Path $Source 'powershell/QuickBoot/QuickBoot.psd1')).FunctionsToExport).Count
    }

    It 'every cause has an error category and an exception of its own kind' {
        $kinds = & (Get-Module QuickBoot) { $script:ErrorKinds }
        @($Causes.Keys | Where-Object { $_ -notlike 'quick_boot_*' -and -not $kinds.ContainsKey($_) }) | Should -BeNullOrEmpty
        foreach ($kind in $kinds.Values) {
            [System.Management.Automation.ErrorCategory]$kind.Category | Should -Not -Be 'NotSpecified'
            New-Object -TypeName $kind.Exception -ArgumentList 'text' | Should -BeOfType [Exception]
        }
    }

    It '-ErrorAction Stop stops with the cause' {
        Reset-Machine '0' $false
        { Get-QuickBoot -ErrorAction Stop } | Should -Throw -ErrorId 'control_library_failed,*'
    }

    It 'Get-QuickBoot 30 binds no parameter by position' {
        { Get-QuickBoot 30 } | Should -Throw -ErrorId 'PositionalParameterNotFound,Get-QuickBoot'
    }

    # Also the companion's own limit, below the module's wait for it.
    It '-Verbose tells the places looked at, the commands, their exit codes and the time' {
        Reset-Machine '0' $false
        Set-Companion $Usual 'fake'
        $lines = @(Get-QuickBoot -Verbose 4>&1 2>$null | Where-Object { $_ -is [System.Management.Automation.VerboseRecord] } | ForEach-Object Message)
        $lines -join "`n" | Should -Match ('quickboot\.exe found at .*/Program Files/quickboot/quickboot\.exe \(looked at: HKLM\\SOFTWARE\\quickboot\\InstallDir is missing; ' +
            '(?s).*Running .*quickboot\.exe /g \(limit 20 s\).*It answered 100 after [0-9.]+ s' +
            '.*Running .*quickboot-diag\.exe --timeout 13 \(limit 20 s\).*It answered 100 after [0-9.]+ s')
    }

    It 'results of every command stay whole in CSV and JSON' {
        Reset-Machine '0'
        $results = @(Get-QuickBoot; Set-QuickBoot -State On -Confirm:$false; Test-QuickBoot -State On -PassThru)
        $csv = @($results | ConvertTo-Csv -NoTypeInformation | ConvertFrom-Csv)
        $csv.Count | Should -Be 3
        $csv[0].PSObject.Properties.Name | Should -Be $ResultProperties
        $csv.Changed | Should -Be 'False', 'True', 'False'
        $csv.Outcome | Should -Be '', 'repaired', 'compliant'
        $json = $results | ConvertTo-Json -WarningVariable warnings -WarningAction SilentlyContinue | ConvertFrom-Json
        $warnings | Should -BeNullOrEmpty
        $json[1].WriteExitCode | Should -Be 0
    }

    # The status line of any object with a result's properties: the contract's shape and limits.
    It 'status line: <Name>' -ForEach @(
        @{ Name = 'the fields blanked, trimmed and cut'; Reason = 'quick boot is on'
            Fields = @{ Manufacturer = " A;B|C`r`nD "; Model = ('x' * 65); Firmware = $null; FirmwareDate = ''; Version = '1.0.0' }
            Line = "compliant: quick_boot_on: quick boot is on | manufacturer=A B C  D; model=$('x' * 64); firmware=; firmware_date=; quickboot=1.0.0" }
        @{ Name = 'a verdict used as reason loses its cause'; Outcome = 'error'; Cause = 'file_missing'
            Reason = "quickboot-diag: file_missing: no file C:\lib.dll`r`nthe second line"
            Line = 'error: file_missing: no file C:\lib.dll | manufacturer=; model=; firmware=; firmware_date=; quickboot=' }
        @{ Name = 'a long reason is cut at a blank to 2,048'; Reason = ('word ' * 600); Length = 2048
            LineLike = '^compliant: quick_boot_on: (word )+word\.\.\. \| manufacturer=' }
        @{ Name = 'no outcome, no line'; Outcome = ''; Reason = 'quick boot is on'; ErrorId = 'bad_setting' }
    ) {
        $fields = if ($Fields) { $Fields } else { @{} }
        $result = [pscustomobject](@{ Outcome = $(if ($null -ne $Outcome) { $Outcome } else { 'compliant' })
                Cause = $(if ($Cause) { $Cause } else { 'quick_boot_on' }); Reason = $Reason } + $fields)
        $printed = @($result | ConvertTo-QuickBootStatus -ErrorVariable failures -ErrorAction SilentlyContinue)
        if ($ErrorId) {
            $printed | Should -BeNullOrEmpty
            $failures[0].FullyQualifiedErrorId | Should -BeLike "$ErrorId,*"
            return
        }
        $printed.Count | Should -Be 1
        $printed[0] | Should -Match $StatusPattern
        if ($Line) { $printed[0] | Should -BeExactly $Line }
        if ($LineLike) { $printed[0] | Should -Match $LineLike }
        if ($Length) { $printed[0].Length | Should -BeLessOrEqual $Length }
    }

    It 'Get-QuickBootDiagnosis: a flat summary of the companion''s report, and -Raw its JSON' {
        Reset-Machine '2'
        Set-Companion $Usual 'real'
        $summary = Get-QuickBootDiagnosis
        $summary.ExitCode | Should -Be 1
        $summary.Cause | Should -Be 'quick_boot_on'
        $summary.Verdict | Should -Match '^quickboot-diag: quick_boot_on: '
        $summary.DllName | Should -Be 'ctlsim.dll'
        $summary.Manufacturer | Should -Be 'Vantrel  Systems  Inc'
        foreach ($property in $summary.PSObject.Properties) {
            ($null -eq $property.Value -or $property.Value -is [ValueType] -or $property.Value -is [string]) | Should -BeTrue -Because "$($property.Name) is a scalar"
        }
        (Get-QuickBootDiagnosis -Raw | ConvertFrom-Json).exit_code | Should -Be 1
    }

    It 'Get-QuickBootDiagnosis without the companion: not_installed' {
        Reset-Machine '2'
        { Get-QuickBootDiagnosis -ErrorAction Stop } | Should -Throw -ErrorId 'not_installed,*'
    }
}

Describe 'Writes and many machines' {
    # The write lock: quickboot.exe refuses a second write while one runs, and the companion names it.
    It 'a write asked for while another is still running starts none: write_in_progress' -Skip:(
        -not (Select-String -Quiet -Path (Join-Path $env:QB_SOURCE 'diag/*.cpp') -Pattern 'quickboot-write')) {
        Reset-Machine '0'
        Set-Companion $Usual 'real'
        $env:QB_WRITE_EXIT = 'hang'
        try {
            $first = Set-QuickBoot -State On -WriteTimeoutSeconds 3 -Confirm:$false -ErrorAction SilentlyContinue
            $second = Set-QuickBoot -State On -WriteTimeoutSeconds 3 -Confirm:$false -ErrorAction SilentlyContinue -ErrorVariable failures
        } finally {
            foreach ($line in Get-Lines $RunLog) { Stop-Run ($line -split ' ', 2)[0] }
        }
        $first.Cause | Should -Be 'write_still_running'
        $second.Cause | Should -Be 'write_in_progress'
        $second.WriteExitCode | Should -Be 100
        $failures[-1].CategoryInfo.Category | Should -Be 'ResourceBusy'
        # Two reads and one write reached the library; the second write never did.
        @(Get-Lines $LibraryLog | Where-Object { $_ -eq 'attach' }).Count | Should -BeLessOrEqual 3
        Get-Lines $StateFile | Should -Be '0'
    }

    Context 'over PowerShell remoting (SSH to this machine)' {
        BeforeAll {
            . (Join-Path $Source 'tests/deploy/ssh-fixture.ps1')
            Reset-Machine '2'
            $Fixture = Start-SshFixture -Pwsh $Pwsh -Work (Join-Path $Work 'ssh')
            $Connection = @{ SSHTransport = $true; UserName = $Fixture.UserName; KeyFilePath = $Fixture.KeyFilePath }
            $Sessions = New-PSSession -HostName $Fixture.HostName, $Fixture.HostName -Port $Fixture.Port `
                -UserName $Fixture.UserName -KeyFilePath $Fixture.KeyFilePath
            # The module where the installer puts it, found by name as on an installed machine.
            Invoke-Command -Session $Sessions -ArgumentList (Join-Path $Usual 'WindowsPowerShell/Modules') {
                param($Modules)
                $env:PSModulePath = $Modules + [IO.Path]::PathSeparator + $env:PSModulePath
            }
        }
        AfterAll {
            if ($Sessions) { Remove-PSSession $Sessions }
            if ($Fixture) { Stop-SshFixture $Fixture }
        }

        # Two sessions and a closed port in one call: a result each, the unreachable one an error.
        It '<Name>: two sessions and a machine that cannot be reached' -ForEach @(
            @{ Name = 'Get-QuickBoot'; Command = { param($Where) Get-QuickBoot -DesiredState On @Where }; Outcome = 'compliant' }
            @{ Name = 'Test-QuickBoot'; Command = { param($Where) Test-QuickBoot Off -PassThru @Where }; Outcome = 'drift' }
            @{ Name = 'Set-QuickBoot'; Command = { param($Where) Set-QuickBoot On -Confirm:$false @Where }; Outcome = 'compliant' }
        ) {
            $where = @{ Session = $Sessions; ComputerName = $Fixture.HostName; Port = $Fixture.ClosedPort } + $Connection
            $all = @(& $Command $where 2>&1)
            $failures = @($all | Where-Object { $_ -is [System.Management.Automation.ErrorRecord] })
            $results = @($all | Where-Object { $_ -isnot [System.Management.Automation.ErrorRecord] })
            $results.Count | Should -Be 3
            $results.ComputerName | Should -Be (@($Fixture.HostName) * 3)
            $results.Outcome | Should -Be 'error', $Outcome, $Outcome
            $results.Cause | Should -Be 'unreachable', 'quick_boot_on', 'quick_boot_on'
            foreach ($result in $results) { $result.PSTypeNames[0] | Should -Be 'QuickBoot.Result' }
            $unreachable = @($failures | Where-Object { $_.FullyQualifiedErrorId -like 'unreachable,*' })
            $unreachable.Count | Should -Be 1
            $unreachable[0].CategoryInfo.Category | Should -Be 'ConnectionError'
        }

        # Get-ADComputer's objects bind by DNSHostName, their Name never does; a machine without
        # the module (a new session's module path lacks it here) answers not_installed.
        It 'binds DNSHostName from the pipeline, not Name; the module missing there: not_installed' {
            $result = @([pscustomobject]@{ DNSHostName = $Fixture.HostName; Name = 'not-a-machine' } |
                    Get-QuickBoot -Port $Fixture.Port @Connection -ErrorAction SilentlyContinue)
            $result.Count | Should -Be 1
            $result[0].ComputerName | Should -Be $Fixture.HostName
            $result[0].Cause | Should -Be 'not_installed'
            $result[0].Reason | Should -Match '^the QuickBoot module cannot be loaded: '
        }
    }
}

Describe 'The wrappers' {
    # Desired state On throughout. Each line is a status line; under this test's PowerShell no
    # registry gives the fields. A failure goes where each system keeps it: Failed names the
    # streams (out, err or both); a drift is no failure, and DriftCode is its exit code.
    $wrappers = @(
        @{ Wrapper = 'intune-remediation/detect.ps1'; Reads = $true; DriftCode = 1; Failed = 'both' }
        @{ Wrapper = 'intune-remediation/remediate.ps1'; Failed = 'both' }
        @{ Wrapper = 'intune-win32-app/detect.ps1'; Reads = $true; DriftCode = 1; Failed = 'out' }
        @{ Wrapper = 'intune-win32-app/install.ps1'; Arguments = @('-State', 'On'); Failed = 'out' }
        @{ Wrapper = 'configmgr/discover.ps1'; Reads = $true; DriftCode = 0; Failed = 'err' }
        @{ Wrapper = 'configmgr/remediate.ps1'; Failed = 'err' })
    # The shared set-ups on this machine, and the reason and library calls a wrapper gives them.
    $setUps = @{
        on = @{ Word = '2'; Reason = 'quick boot is on'; Log = $Read }
        off = @{ Word = '0'; Reason = 'quick boot switched on'; Log = (ReadThenWrite '2'); WordAfter = '2' }
        off_read_only = @{ Word = '0'; Reason = 'quick boot is off, wanted on'; Log = $Read }
        library_missing = @{ Word = '0'; NoLibrary = $true; Reason = "quickboot.exe /g answered 100: $CannotUse"; Log = @() }
        # Today's companion and a newer one alike: its verdict is the reason, without its prefix,
        # and the fields are the ones it read.
        library_missing_companion = @{ Word = '0'; NoLibrary = $true; Companion = 'real'; Log = @()
            ReasonLike = '(?!quickboot-diag: ).*ctlsim\.dll.* \| manufacturer=' }
        library_ends_process = @{ Word = '2'; Exit = '7'; Log = @('attach', 'call 1 0 0', 'detach exit')
            Reason = 'quickboot.exe /g answered 7: none of its answers; the control library may have ended the process' }
        # The defects "the companion's verdict replaces the real failure" and "no stable cause".
        write_fails = @{ Word = '0'; WriteStatus = '5'; Companion = 'fake'; Log = (ReadThenWrite '2') + $Read
            Reason = "quickboot.exe /1 answered 100: $CannotUse; quickboot-diag: quick_boot_off: quick boot is off" }
        # The defect "writes have no limit".
        write_hangs = @{ Word = '0'; WriteExit = 'hang'; Settings = @{ WriteTimeoutSeconds = '3' }
            Log = $Read + @('attach', 'call 1 0 0')  # the write hangs in its own first read
            Reason = 'quickboot.exe /1 did not end within 3 seconds; it was left running, since a write cut off halfway could leave any state' }
    }
    # The set-ups a wrapper does not run. One that only reads sees a machine that is off as
    # off_read_only, whatever its writes would do. None waits out its fixed 20-second read limit
    # for read_hangs: it hands the module's result on, and the module's row ends a hung read.
    $notRun = @{ reads = @('off', 'write_fails', 'write_hangs', 'read_hangs'); writes = @('off_read_only', 'read_hangs') }

    It '<Wrapper> <Arguments>: <Case>' -ForEach @(
        foreach ($w in $wrappers) {
            $arguments = if ($w.Arguments) { $w.Arguments } else { @() }
            foreach ($name in $KitCases.Keys) {
                if ($name -in $notRun[$(if ($w.Reads) { 'reads' } else { 'writes' })]) { continue }
                if (-not $setUps.Contains($name)) { throw "no machine here for the set-up $name of kit-cases.json" }
                $row = $setUps[$name].Clone() + (KitCase $name)
                $row.Wrapper = $w.Wrapper
                $row.Arguments = $arguments
                $row.Case = $name
                if (-not $row.WordAfter) { $row.WordAfter = $row.Word }
                $failed = $row.Outcome -eq 'error'
                $row.Code = $(if ($failed) { 1 } elseif ($row.Outcome -eq 'drift') { $w.DriftCode } else { 0 })
                $out = -not $failed -or $w.Failed -ne 'err'
                $err = $failed -and $w.Failed -ne 'out'
                $head = "$($row.Outcome): $($row.Cause): "
                if ($row.ReasonLike) {
                    $like = '^' + [regex]::Escape($head) + $row.ReasonLike
                    $row.OutLike = $(if ($out) { $like } else { '^$' })
                    $row.ErrLike = $(if ($err) { $like } else { '^$' })
                } else {
                    $row.Out = @(if ($out) { $head + $row.Reason + $NoFields })
                    $row.Err = @(if ($err) { $head + $row.Reason + $NoFields })
                }
                $row
            }
            # Never a module from the current drive's root: without ProgramW6432 nothing is named.
            $line = "error: not_installed: ProgramW6432 is not set or not a full path, and no QuickBoot module is named$NoFields"
            @{ Wrapper = $w.Wrapper; Arguments = $arguments; Case = 'no ProgramW6432'; Word = '0'; NoProgramFiles = $true
                Code = 1; Out = @(if ($w.Failed -ne 'err') { $line }); Err = @(if ($w.Failed -ne 'out') { $line })
                Log = @(); WordAfter = '0' }
        }
        # The requirement rule prints no status line: "applicable", or a line when the switch
        # cannot be read at all.
        @{ Wrapper = 'intune-win32-app/requirement.ps1'; Arguments = @(); Case = 'on: applicable'; Word = '2'
            Code = 0; Out = @('applicable'); Err = @(); Log = $Read; WordAfter = '2' }
        @{ Wrapper = 'intune-win32-app/requirement.ps1'; Arguments = @(); Case = 'off: applicable'; Word = '0'
            Code = 0; Out = @('applicable'); Err = @(); Log = $Read; WordAfter = '0' }
        @{ Wrapper = 'intune-win32-app/requirement.ps1'; Arguments = @(); Case = '100'; Word = '0'; NoLibrary = $true
            Code = 0; Out = @("not_applicable: control_library_failed: quickboot.exe /g answered 100: $CannotUse$NoFields")
            Err = @(); Log = @(); WordAfter = '0' }
        # The defect "an uninstall on a machine answering 100 reads as success".
        @{ Wrapper = 'intune-win32-app/install.ps1'; Arguments = @('-State', 'Off'); Case = 'uninstall, 100'; Word = '2'
            NoLibrary = $true; Code = 1; Out = @("error: control_library_failed: quickboot.exe /g answered 100: $CannotUse$NoFields")
            Err = @(); Log = @(); WordAfter = '2' }
        # The defect "uninstall switches it back": it switches off, whatever it was before.
        @{ Wrapper = 'intune-win32-app/install.ps1'; Arguments = @('-State', 'Off'); Case = 'uninstall'; Word = '2'
            Code = 0; Out = @("repaired: quick_boot_off: quick boot switched off$NoFields"); Err = @(); Log = (ReadThenWrite '0'); WordAfter = '0' }
        @{ Wrapper = 'intune-win32-app/requirement.ps1'; Arguments = @(); Case = 'exit code 7: applicable'; Word = '2'
            Exit = '7'; Code = 0; Out = @('applicable'); Err = @(); Log = @('attach', 'call 1 0 0', 'detach exit'); WordAfter = '2' }
        @{ Wrapper = 'intune-win32-app/requirement.ps1'; Arguments = @(); Case = 'no ProgramW6432: applicable'; Word = '2'
            NoProgramFiles = $true; Code = 0; Out = @('applicable'); Err = @(); Log = @(); WordAfter = '2' }
        @{ Wrapper = 'intune-remediation/detect.ps1'; Arguments = @(); Case = 'module not installed'; Word = '0'
            Where = 'empty'; Code = 1; Log = @(); WordAfter = '0'
            Out = @("error: not_installed: the QuickBoot module cannot be loaded from {ProgramFiles}\WindowsPowerShell\Modules\QuickBoot\QuickBoot.psd1$NoFields")
            Err = @("error: not_installed: the QuickBoot module cannot be loaded from {ProgramFiles}\WindowsPowerShell\Modules\QuickBoot\QuickBoot.psd1$NoFields") }
        @{ Wrapper = 'intune-win32-app/detect.ps1'; Arguments = @(); Case = 'a non-ASCII program folder'; Word = '2'
            Where = 'nonascii'; Code = 0; Out = @("compliant: quick_boot_on: quick boot is on$NoFields"); Err = @(); Log = $Read; WordAfter = '2' }
    ) {
        Reset-Machine $Word (-not $NoLibrary)
        if ($Where) { $env:ProgramW6432 = $Places[$Where] }
        if ($NoProgramFiles) { Remove-Item env:ProgramW6432 }
        if ($Companion) { Set-Companion $Usual $Companion }
        if ($Exit) { $env:CTLSIM_EXIT = $Exit }
        if ($WriteExit) { $env:QB_WRITE_EXIT = $WriteExit }
        if ($WriteStatus) { $env:CTLSIM_WRITE_STATUS = $WriteStatus }
        $settings = if ($Settings) { $Settings.Clone() } else { @{} }
        $run = Invoke-Wrapper $Wrapper 'On' $Arguments $settings
        if ($OutLike) { $run.Out -join "`n" | Should -Match $OutLike } else { $run.Out | Should -Be @($Out | ForEach-Object { Expand-Row $_ $env:ProgramW6432 }) }
        if ($ErrLike) { $run.Err -join "`n" | Should -Match $ErrLike } else { $run.Err | Should -Be @($Err | ForEach-Object { Expand-Row $_ $env:ProgramW6432 }) }
        foreach ($line in $run.Out + $run.Err) {
            if ($line -eq 'applicable') { continue }
            $line -match $StatusPattern | Should -BeTrue -Because "a status line: $line"
            # Read as the fleet reads it: the shared set-up's outcome and cause.
            if ($SetUp) { "$($Matches.outcome): $($Matches.cause)" | Should -BeExactly "${Outcome}: $Cause" }
        }
        $run.ExitCode | Should -Be $Code
        foreach ($line in Get-Lines $RunLog) {
            # Every program ran in its own folder, never in the wrapper's.
            ($line -split ' ', 2)[1] | Should -Be (Join-Path $env:ProgramW6432 'quickboot')
        }
        try {
            Get-Lines $LibraryLog | Should -Be $Log
            Get-Lines $StateFile | Should -Be @($WordAfter)
        } finally {
            if ($WriteExit) { Stop-Run ((Get-Lines $RunLog)[-1] -split ' ', 2)[0] }
        }
    }
}
