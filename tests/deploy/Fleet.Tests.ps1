# The fleet view of the QuickBoot module: ConvertFrom-QuickBootStatus on one table of input
# shapes, Measure-QuickBootFleet against a generated fleet's known counts in every export's
# shape, and the changes against an earlier snapshot. No wine: nothing here runs a program.
# Run by tests/deploy/run-pester BIN PREFIX Fleet.Tests.ps1 (QB_SOURCE names the source tree).

BeforeAll {
    Import-Module (Join-Path $env:QB_SOURCE 'powershell/QuickBoot/QuickBoot.psd1') -Force
    . (Join-Path $env:QB_SOURCE 'tests/deploy/New-FleetFixture.ps1')
    $Work = Join-Path ([IO.Path]::GetTempPath()) "qb-fleet-$PID"
    $Hardware = ' | manufacturer=Fabrikam; model=Präzision 7 ノート; firmware=2.4.1; firmware_date=03/14/2025; quickboot=1.0.0'
    function Row([hashtable]$Columns) { return [pscustomobject]$Columns }
    # Counts as one comparable text: "key=count" sorted by key.
    function Format-Counts($Pairs) {
        return (@($Pairs | Sort-Object { $_.Key } | ForEach-Object { "$($_.Key)=$($_.Count)" }) -join '; ')
    }
}

AfterAll {
    Remove-Item -LiteralPath $Work -Recurse -Force -ErrorAction SilentlyContinue
}

Describe 'ConvertFrom-QuickBootStatus' {
    # Given: a script block giving what is piped in; Expect: per record, the properties it must have.
    It '<Name>' -ForEach @(
        @{ Name = 'a line with the hardware part, non-ASCII model'
            Given = { "drift: quick_boot_off: quick boot is off, wanted on$Hardware" }
            Expect = @(@{ Outcome = 'drift'; Cause = 'quick_boot_off'; State = 'Off'; Reason = 'quick boot is off, wanted on'
                    Manufacturer = 'Fabrikam'; Model = 'Präzision 7 ノート'; FirmwareDate = '03/14/2025'; Version = '1.0.0'; Source = 'line'; Raw = $null }) }
        @{ Name = 'lines of older versions'
            Given = { 'compliant: quick boot is on', 'drift: quick boot is off, wanted on', 'repaired: quick boot switched on', 'error: library_hung: it hung' }
            Expect = @(@{ Outcome = 'compliant'; Cause = 'quick_boot_on'; State = 'On'; Reason = 'quick boot is on'; Model = $null },
                @{ Outcome = 'drift'; Cause = 'quick_boot_off'; State = 'Off' }, @{ Outcome = 'repaired'; Cause = 'quick_boot_on'; State = 'On' },
                @{ Outcome = 'error'; Cause = 'library_hung'; State = $null; Reason = 'it hung' }) }
        @{ Name = 'malformed lines, empty and null input: unknown, raw kept, none dropped'
            Given = { 'Compliant: yes', 'error: Library_Hung: x', '', $null, 'compliant: quick boot is maybe' }
            Expect = @(@{ Outcome = 'unknown'; Cause = $null; Raw = 'Compliant: yes' }, @{ Outcome = 'unknown'; Raw = 'error: Library_Hung: x' },
                @{ Outcome = 'unknown'; Raw = '' }, @{ Outcome = 'unknown'; Raw = '' }, @{ Outcome = 'unknown'; Raw = 'compliant: quick boot is maybe' }) }
        @{ Name = 'strings from Invoke-Command carry PSComputerName; -ComputerName names the others'
            Given = { Add-Member -InputObject 'compliant: quick_boot_on: on' -NotePropertyName PSComputerName -NotePropertyValue 'PC-7' -PassThru }
            Expect = @(@{ ComputerName = 'PC-7'; Outcome = 'compliant' }) }
        @{ Name = 'Intune CSV: the post-remediation output wins, drift then compliant is repaired, the error is kept'
            Given = { Row @{ DeviceName = 'PC-1'; PreRemediationDetectionScriptOutput = 'drift: quick_boot_off: off, wanted on'
                    PostRemediationDetectionScriptOutput = "compliant: quick_boot_on: quick boot is on$Hardware"
                    RemediationScriptErrorDetails = 'a warning'; ModifiedTime = '2026-12-01T10:30:00.000Z' } }
            Expect = @(@{ ComputerName = 'PC-1'; Outcome = 'repaired'; Cause = 'quick_boot_on'; Error = 'a warning'; Source = 'intune-csv'
                    Time = [datetime]::SpecifyKind([datetime]'2026-12-01T10:30:00', 'Utc'); Model = 'Präzision 7 ノート' }) }
        @{ Name = 'Intune CSV with the admin center headings; no post output: the pre output'
            Given = { Row @{ 'Device name' = 'PC-2'; 'Pre-remediation detection output' = 'error: file_missing: no file'
                    'Post-remediation detection output' = ''; 'Remediation error' = '' } }
            Expect = @(@{ ComputerName = 'PC-2'; Outcome = 'error'; Cause = 'file_missing'; Error = $null; Source = 'intune-csv' }) }
        @{ Name = 'Graph deviceRunStates response: managedDevice names the machine; no output is unknown'
            Given = { '{"value":[{"detectionState":"success","lastStateUpdateDateTime":"2026-12-02T08:00:00Z","preRemediationDetectionScriptOutput":"compliant: quick_boot_off: off","postRemediationDetectionScriptOutput":null,"remediationScriptError":null,"managedDevice":{"deviceName":"PC-3"}},{"detectionState":"pending","lastStateUpdateDateTime":null,"preRemediationDetectionScriptOutput":null,"postRemediationDetectionScriptOutput":null,"remediationScriptError":"boom","managedDevice":{"deviceName":"PC-4"}}]}' | ConvertFrom-Json }
            Expect = @(@{ ComputerName = 'PC-3'; Outcome = 'compliant'; State = 'Off'; Source = 'intune'; Time = [datetime]::SpecifyKind([datetime]'2026-12-02T08:00:00', 'Utc') },
                @{ ComputerName = 'PC-4'; Outcome = 'unknown'; Raw = ''; Error = 'boom'; Source = 'intune' }) }
        @{ Name = 'Configuration Manager compliance details'
            Given = { Row @{ Netbios_Name0 = 'PC-5'; CurrentValue = 'not_applicable: key_missing: never registered'; LastComplianceMessageTime = '2026-12-03 07:15:00' } }
            Expect = @(@{ ComputerName = 'PC-5'; Outcome = 'not_applicable'; Cause = 'key_missing'; State = $null; Source = 'configmgr'
                    Time = [datetime]::SpecifyKind([datetime]'2026-12-03T07:15:00', 'Utc') }) }
        @{ Name = 'Ansible json callback: the fact, the fatal status line, an unreachable host'
            Given = { '{"plays":[{"tasks":[{"hosts":{"h1":{"changed":false},"h2":{"failed":true,"msg":"error: timed_out: no answer"},"h3":{"unreachable":true,"msg":"Failed to connect to the host via winrm"}},"duration":{"end":"2026-12-04T09:00:00.000000Z"}},{"hosts":{"h1":{"ansible_facts":{"quickboot_result":{"computer_name":"PC-6","outcome":"repaired","cause":"quick_boot_on","reason":"quick boot switched on","model":"ゼータ Book 13","status_line":"repaired: quick_boot_on: quick boot switched ... | manufacturer=Zeta; model=ゼータ Book 13; firmware=1; firmware_date=; quickboot=1.0.0"}}}}}]}]}' | ConvertFrom-Json }
            Expect = @(@{ ComputerName = 'PC-6'; Outcome = 'repaired'; State = 'On'; Reason = 'quick boot switched on'; Model = 'ゼータ Book 13'; Source = 'ansible' },
                @{ ComputerName = 'h2'; Outcome = 'error'; Cause = 'timed_out'; Time = [datetime]::SpecifyKind([datetime]'2026-12-04T09:00:00', 'Utc') },
                @{ ComputerName = 'h3'; Outcome = 'error'; Cause = 'unreachable'; Reason = 'Failed to connect to the host via winrm' }) }
        @{ Name = 'module results: with an outcome, a read without one, a deserialized one'
            Given = {
                [pscustomobject]@{ PSTypeName = 'QuickBoot.Result'; ComputerName = 'PC-8'; State = $null; DesiredState = 'On'; Changed = $false
                    Outcome = 'error'; Cause = 'library_hung'; Reason = 'hung'; Model = 'Z-Tower'; Timestamp = [datetime]::SpecifyKind([datetime]'2026-12-05T06:00:00', 'Utc') }
                [pscustomobject]@{ PSTypeName = 'QuickBoot.Result'; ComputerName = 'PC-9'; State = 'Off'; Outcome = $null; Cause = 'quick_boot_off'; Reason = 'off' }
                [pscustomobject]@{ PSTypeName = 'Deserialized.QuickBoot.Result'; PSComputerName = 'PC-10'; ComputerName = $null; State = 'On'; Outcome = 'drift'; Cause = 'quick_boot_on'; Reason = 'on, wanted off' } }
            Expect = @(@{ ComputerName = 'PC-8'; Outcome = 'error'; Cause = 'library_hung'; Model = 'Z-Tower'; Source = 'module'; Time = [datetime]::SpecifyKind([datetime]'2026-12-05T06:00:00', 'Utc') },
                @{ ComputerName = 'PC-9'; Outcome = 'compliant'; Cause = 'quick_boot_off'; State = 'Off' },
                @{ ComputerName = 'PC-10'; Outcome = 'drift'; State = 'On' }) }
    ) {
        $records = @(& $Given | ConvertFrom-QuickBootStatus -ErrorAction Stop)
        $records.Count | Should -Be $Expect.Count
        for ($i = 0; $i -lt $Expect.Count; $i++) {
            $records[$i].PSTypeNames[0] | Should -Be 'QuickBoot.FleetRecord'
            foreach ($property in $Expect[$i].Keys) {
                $records[$i].$property | Should -Be $Expect[$i][$property] -Because "record $i, $property"
                if ($Expect[$i][$property] -is [datetime]) { $records[$i].$property.Kind | Should -Be 'Utc' -Because "record $i, $property" }
            }
        }
    }

    It 'keeps the contract''s properties, in order, and reads its own records back from CSV' {
        $records = @("error: library_hung: hung$Hardware" | ConvertFrom-QuickBootStatus -ComputerName PC-1)
        $records[0].PSObject.Properties.Name -join ',' |
            Should -Be 'ComputerName,Outcome,State,Cause,Reason,Manufacturer,Model,Firmware,FirmwareDate,Version,Time,Source,Error,Raw'
        $again = @($records | ConvertTo-Csv | ConvertFrom-Csv | ConvertFrom-QuickBootStatus)
        ($again[0] | ConvertTo-Json) | Should -Be ($records[0] | ConvertTo-Json)
    }
}

Describe 'Measure-QuickBootFleet' {
    BeforeAll {
        $Expected = New-FleetFixture -Path $Work -Count 200 -Seed 7
    }

    It 'sums the <File> export up to the generated counts' -ForEach @(
        @{ File = 'intune.csv'; Read = { Import-Csv $args[0] } }
        @{ File = 'graph.json'; Read = { Get-Content $args[0] -Raw | ConvertFrom-Json } }
        @{ File = 'configmgr.csv'; Read = { Import-Csv $args[0] } }
        @{ File = 'ansible.json'; Read = { Get-Content $args[0] -Raw | ConvertFrom-Json } }
        @{ File = 'lines.txt'; Read = { Get-Content $args[0] } }
    ) {
        $summary = & $Read (Join-Path $Work $File) | Measure-QuickBootFleet
        $summary.PSTypeNames[0] | Should -Be 'QuickBoot.FleetSummary'
        $summary.Total | Should -Be $Expected.Total
        $summary.Failing | Should -Be $Expected.Failing
        Format-Counts ($summary.Results | ForEach-Object { @{ Key = "$($_.Outcome)`t$($_.Cause)"; Count = $_.Count } }) |
            Should -Be (Format-Counts ($Expected.Results.GetEnumerator() | ForEach-Object { @{ Key = $_.Key; Count = $_.Value } }))
        Format-Counts ($summary.ByHardware | ForEach-Object { @{ Key = "$($_.Cause)`t$($_.Manufacturer)`t$($_.Model)`t$($_.Firmware)"; Count = $_.Count } }) |
            Should -Be (Format-Counts ($Expected.ByHardware.GetEnumerator() | ForEach-Object { @{ Key = $_.Key; Count = $_.Value } }))
        $order = @($summary.Results | ForEach-Object { "$($_.Outcome) $($_.Cause)" })
        $order[0..4] -join ', ' | Should -Be 'compliant quick_boot_on, compliant quick_boot_off, drift quick_boot_off, repaired quick_boot_on, not_applicable key_missing'
        $order[-1] | Should -Be 'unknown '
        $errors = @($summary.Results | Where-Object Outcome -EQ 'error' | ForEach-Object Count)
        $errors -join ',' | Should -Be (($errors | Sort-Object -Descending) -join ',')
        $hung = $summary.Results | Where-Object Cause -EQ 'library_hung'
        $hung.Share | Should -Be 0.03
        $hung.Meaning | Should -BeLike 'The library did not return within the time limit*'
        ($summary.ByHardware | ForEach-Object Count) -join ',' | Should -Be (($summary.ByHardware | ForEach-Object Count | Sort-Object -Descending) -join ',')
        $listed = $Expected.Total - $Expected.Results["compliant`tquick_boot_on"] - $Expected.Results["compliant`tquick_boot_off"] - $Expected.Results["repaired`tquick_boot_on"]
        $summary.Machines.Count | Should -Be $listed
        $summary.Changes | Should -BeNullOrEmpty
    }
}

Describe 'Measure-QuickBootFleet -Previous' {
    It '<Name>' -ForEach @(
        @{ Name = 'newly failing, fixed, still failing, first and last seen; a repeated machine counts by its latest record'
            Before = @('PC-1|2026-11-24T08:00:00|compliant: quick_boot_on: on', 'PC-2|2026-11-24T08:00:00|error: file_missing: gone',
                'PC-3|2026-11-20T08:00:00|error: library_hung: hung', 'PC-4|2026-11-24T08:00:00|error: timed_out: slow')
            Now = @('PC-1|2026-12-01T08:00:00|error: library_hung: hung', 'PC-2|2026-12-01T08:00:00|repaired: quick_boot_on: switched on',
                'PC-3|2026-12-01T09:00:00|error: dependency_missing: a DLL', 'PC-5|2026-12-01T08:00:00|nonsense',
                'PC-3|2026-11-30T08:00:00|compliant: quick_boot_on: on')
            NewlyFailing = 'PC-1 library_hung was quick_boot_on 2026-12-01T08:00:00-2026-12-01T08:00:00; PC-5  was  2026-12-01T08:00:00-2026-12-01T08:00:00'
            Fixed = 'PC-2 quick_boot_on was file_missing 2026-11-24T08:00:00-2026-12-01T08:00:00'
            StillFailing = 'PC-3 dependency_missing was library_hung 2026-11-20T08:00:00-2026-12-01T09:00:00' }
    ) {
        function Read-Snapshot([string[]]$Rows) {
            foreach ($row in $Rows) {
                $name, $time, $line = $row.Split('|')
                $record = $line | ConvertFrom-QuickBootStatus -ComputerName $name
                $record.Time = [datetime]::SpecifyKind([datetime]$time, 'Utc')
                $record
            }
        }
        function Format-Changes($Rows) {
            return (@($Rows | ForEach-Object {
                        "$($_.ComputerName) $($_.Cause) was $($_.PreviousCause) $($_.FirstSeen.ToString('s'))-$($_.LastSeen.ToString('s'))"
                    }) -join '; ')
        }
        # The earlier snapshot as an administrator keeps it: a CSV file, read back as text.
        $previous = Read-Snapshot $Before | ConvertTo-Csv | ConvertFrom-Csv
        $summary = Read-Snapshot $Now | Measure-QuickBootFleet -Previous $previous
        $summary.Total | Should -Be 4
        Format-Changes $summary.Changes.NewlyFailing | Should -Be $NewlyFailing
        Format-Changes $summary.Changes.Fixed | Should -Be $Fixed
        Format-Changes $summary.Changes.StillFailing | Should -Be $StillFailing
    }
}
