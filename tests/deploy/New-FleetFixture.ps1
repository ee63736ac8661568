# A made-up fleet, the same machines in the shape of every export the fleet view reads, with
# the counts they must sum up to. Used by Fleet.Tests.ps1 and tests/bench/fleet-bench.ps1.
# Names, hardware and times are invented; a fixed seed gives the same fleet every time.

# The share of each outcome and cause; compliant quick_boot_on takes the rest. unknown is a
# line no parser can read.
$script:FleetMix = @(
    @('compliant', 'quick_boot_off', 0.05), @('drift', 'quick_boot_off', 0.03), @('repaired', 'quick_boot_on', 0.06),
    @('not_applicable', 'key_missing', 0.04), @('error', 'library_hung', 0.03), @('error', 'file_missing', 0.02),
    @('error', 'dependency_missing', 0.015), @('error', 'write_in_progress', 0.01), @('error', 'not_installed', 0.005),
    @('unknown', '', 0.01))
# Manufacturer, model, firmware: some models' names are not ASCII.
$script:FleetHardware = @(
    @('Northwind', 'Aster 14 G3', 'A.17.2'), @('Northwind', 'Aster 16', 'A.09.0'),
    @('Fabrikam', 'Präzision 7', '2.4.1'), @('Fabrikam', 'Ноутбук 15', '2.4.1'),
    @('Zeta Werke', 'ゼータ Book 13', '1.0.7'), @('Zeta Werke', 'Z-Tower', '1.0.7'))
$script:FleetReasons = @{
    quick_boot_on = 'quick boot is on'; quick_boot_off = 'quick boot is off'; key_missing = 'the control library is not registered'
    library_hung = 'the control library did not answer within 15 seconds'; file_missing = 'no file at C:\Program Files\Ctl\ctl.dll'
    dependency_missing = 'a DLL ctl.dll needs is missing'; write_in_progress = 'a write is running'
    not_installed = 'ProgramW6432 is not set and HKLM\SOFTWARE\quickboot\InstallDir is missing'
}

function ConvertTo-CsvField([string]$Text) { return '"' + $Text.Replace('"', '""') + '"' }

<#
Writes the fleet into $Path as intune.csv (the Remediations device status export), graph.json
(a Graph deviceRunStates response), configmgr.csv (a configuration item's compliance details),
ansible.json (the json callback's output) and lines.txt (one status line a machine), or only the
-Format ones. Returns Total, Failing, Results ("outcome<TAB>cause" -> count) and ByHardware
("cause<TAB>manufacturer<TAB>model<TAB>firmware" -> count).
#>
function New-FleetFixture {
    param(
        [Parameter(Mandatory = $true)][string]$Path,
        [int]$Count = 400,
        [int]$Seed = 7,
        [string[]]$Format = @('intune', 'graph', 'configmgr', 'ansible', 'lines'),
        [double]$OlderShare = 0.02
    )
    $random = New-Object System.Random $Seed
    $kinds = New-Object 'System.Collections.Generic.List[object]'
    foreach ($mix in $script:FleetMix) {
        for ($i = 0; $i -lt [int][Math]::Floor($Count * $mix[2]); $i++) { $kinds.Add($mix) }
    }
    while ($kinds.Count -lt $Count) { $kinds.Add(@('compliant', 'quick_boot_on', 0)) }
    for ($i = $kinds.Count - 1; $i -gt 0; $i--) {
        $j = $random.Next($i + 1); $swap = $kinds[$i]; $kinds[$i] = $kinds[$j]; $kinds[$j] = $swap
    }

    $expected = @{ Total = $Count; Failing = 0; Results = @{}; ByHardware = @{} }
    $start = [datetime]::SpecifyKind([datetime]'2026-12-01T08:00:00', 'Utc')
    $machines = for ($i = 0; $i -lt $Count; $i++) {
        $outcome = $kinds[$i][0]; $cause = $kinds[$i][1]
        $hardware = $script:FleetHardware[$random.Next($script:FleetHardware.Count)]
        $older = $outcome -ne 'unknown' -and $outcome -ne 'not_applicable' -and $random.NextDouble() -lt $OlderShare
        $reason = ''
        if ($outcome -ne 'unknown') { $reason = $script:FleetReasons[$cause] }
        if ($outcome -eq 'drift') { $reason += ', wanted on' }
        if ($outcome -eq 'repaired') { $reason = 'quick boot switched on' }
        if ($older -and $outcome -ne 'error') {
            $line = "${outcome}: $reason"
        } elseif ($older) {
            $line = "${outcome}: ${cause}: $reason"
        } elseif ($outcome -eq 'unknown') {
            $line = 'Compliant - everything fine'
        } else {
            $line = "${outcome}: ${cause}: $reason | manufacturer=$($hardware[0]); model=$($hardware[1]); " +
                "firmware=$($hardware[2]); firmware_date=03/14/2025; quickboot=1.0.0"
        }
        $key = "$outcome`t$cause"
        $expected.Results[$key] = 1 + [int]$expected.Results[$key]
        if ($outcome -eq 'error' -or $outcome -eq 'unknown') {
            $expected.Failing++
            $where = @('', '', '')
            if (-not $older -and $outcome -ne 'unknown') { $where = $hardware }
            $key = "$cause`t$($where[0])`t$($where[1])`t$($where[2])"
            $expected.ByHardware[$key] = 1 + [int]$expected.ByHardware[$key]
        }
        [pscustomobject]@{
            Name = 'PC-{0:D6}' -f ($i + 1); Outcome = $outcome; Cause = $cause; Line = $line; Reason = $reason
            Hardware = $hardware; Older = $older; Time = $start.AddMinutes($random.Next(60 * 24 * 6))
        }
    }
    $null = New-Item -ItemType Directory -Force -Path $Path
    $utf8 = New-Object System.Text.UTF8Encoding $true

    # Intune: the detection's line before the remediation; after it, the line of the detection
    # that follows a remediation (drift, then compliant once repaired).
    function Get-IntuneOutputs($Machine) {
        if ($Machine.Outcome -ne 'repaired') { return @($Machine.Line, '') }
        $after = $Machine.Line.Replace('repaired: quick_boot_on: quick boot switched on', 'compliant: quick_boot_on: quick boot is on')
        $before = $Machine.Line.Replace('repaired: quick_boot_on: quick boot switched on', 'drift: quick_boot_off: quick boot is off, wanted on')
        if ($Machine.Older) { $after = 'compliant: quick boot is on'; $before = 'drift: quick boot is off, wanted on' }
        return @($before, $after)
    }

    if ($Format -contains 'intune') {
        $writer = New-Object System.IO.StreamWriter ((Join-Path $Path 'intune.csv'), $false, $utf8)
        $writer.WriteLine('"DeviceId","DeviceName","UserName","OSVersion","DetectionStatus","RemediationStatus",' +
            '"PreRemediationDetectionScriptOutput","PreRemediationDetectionScriptError","RemediationScriptErrorDetails",' +
            '"PostRemediationDetectionScriptOutput","PostRemediationDetectionScriptError","ModifiedTime"')
        foreach ($machine in $machines) {
            $outputs = Get-IntuneOutputs $machine
            $remediationError = ''
            if ($machine.Outcome -eq 'error') { $remediationError = 'Set-QuickBoot : the state is unknown' }
            $fields = @(([guid]::Empty.ToString()), $machine.Name, '', '10.0.22631.4460', '1', '1', $outputs[0], '',
                $remediationError, $outputs[1], '', $machine.Time.ToString('yyyy-MM-ddTHH:mm:ss.fffZ'))
            $writer.WriteLine((($fields | ForEach-Object { ConvertTo-CsvField $_ }) -join ','))
        }
        $writer.Dispose()
    }
    if ($Format -contains 'graph') {
        $value = foreach ($machine in $machines) {
            $outputs = Get-IntuneOutputs $machine
            [ordered]@{
                id = "run-$($machine.Name)"; detectionState = 'success'; remediationState = 'skipped'
                lastStateUpdateDateTime = $machine.Time.ToString('yyyy-MM-ddTHH:mm:ssZ')
                preRemediationDetectionScriptOutput = $outputs[0]; preRemediationDetectionScriptError = $null
                remediationScriptError = $null; postRemediationDetectionScriptOutput = $outputs[1]
                postRemediationDetectionScriptError = $null
                managedDevice = [ordered]@{ id = "device-$($machine.Name)"; deviceName = $machine.Name }
            }
        }
        $json = [ordered]@{ '@odata.context' = 'https://graph.example/beta/$metadata#deviceRunStates'; value = @($value) } |
            ConvertTo-Json -Depth 5
        [IO.File]::WriteAllText((Join-Path $Path 'graph.json'), $json, $utf8)
    }
    if ($Format -contains 'configmgr') {
        $writer = New-Object System.IO.StreamWriter ((Join-Path $Path 'configmgr.csv'), $false, $utf8)
        $writer.WriteLine('"Netbios_Name0","ConfigurationItemName","CurrentValue","ComplianceState","LastComplianceMessageTime"')
        foreach ($machine in $machines) {
            $fields = @($machine.Name, 'quickboot', $machine.Line, '2', $machine.Time.ToString('yyyy-MM-dd HH:mm:ss'))
            $writer.WriteLine((($fields | ForEach-Object { ConvertTo-CsvField $_ }) -join ','))
        }
        $writer.Dispose()
    }
    if ($Format -contains 'ansible') {
        $read = [ordered]@{}
        $record = [ordered]@{}
        foreach ($machine in $machines) {
            if ($machine.Outcome -eq 'error' -or $machine.Outcome -eq 'unknown') {
                $read[$machine.Name] = [ordered]@{ failed = $true; msg = $machine.Line; changed = $false }
                continue
            }
            $read[$machine.Name] = [ordered]@{ changed = $false; rc = 1 }
            $state = $null
            if ($machine.Cause -eq 'quick_boot_on') { $state = 'On' } elseif ($machine.Cause -eq 'quick_boot_off') { $state = 'Off' }
            $fact = [ordered]@{
                computer_name = $machine.Name; state = $state; desired_state = 'On'; changed = $machine.Outcome -eq 'repaired'
                outcome = $machine.Outcome; cause = $machine.Cause; reason = $machine.Reason; fix = ''
                read_exit_code = 1; write_exit_code = $null; manufacturer = ''; model = ''; firmware = ''; firmware_date = ''
                version = ''; status_line = $machine.Line
            }
            if (-not $machine.Older) {
                $fact.manufacturer = $machine.Hardware[0]; $fact.model = $machine.Hardware[1]; $fact.firmware = $machine.Hardware[2]
                $fact.firmware_date = '03/14/2025'; $fact.version = '1.0.0'
            }
            $record[$machine.Name] = [ordered]@{ changed = $false; ansible_facts = [ordered]@{ quickboot_result = $fact } }
        }
        $output = [ordered]@{
            custom_stats = @{}; global_custom_stats = @{}
            plays = @([ordered]@{
                    play = [ordered]@{ name = 'quickboot'; id = 'play-1' }
                    tasks = @(
                        [ordered]@{ task = [ordered]@{ name = 'Read the quick-boot switch' }; hosts = $read
                            duration = [ordered]@{ start = '2026-12-07T09:00:00.000000Z'; end = '2026-12-07T09:00:05.000000Z' } },
                        [ordered]@{ task = [ordered]@{ name = 'Record the result' }; hosts = $record
                            duration = [ordered]@{ start = '2026-12-07T09:00:05.000000Z'; end = '2026-12-07T09:00:06.000000Z' } })
                })
            stats = @{}
        }
        [IO.File]::WriteAllText((Join-Path $Path 'ansible.json'), ($output | ConvertTo-Json -Depth 8), $utf8)
    }
    if ($Format -contains 'lines') {
        [IO.File]::WriteAllLines((Join-Path $Path 'lines.txt'), [string[]]@($machines | ForEach-Object { $_.Line }), $utf8)
    }
    return $expected
}
