# The fleet page's HTML as Export-QuickBootFleetReport writes it: text from the fleet escaped
# wherever it appears, long reasons cut, the machines' table kept to -Limit. What the page shows
# and does in a browser is tests/deploy/report_browser_test.js. No wine.
# Run by tests/deploy/run-pester BIN PREFIX Report.Tests.ps1 (QB_SOURCE names the source tree).

BeforeAll {
    Import-Module (Join-Path $env:QB_SOURCE 'powershell/QuickBoot/QuickBoot.psd1') -Force
    $Work = Join-Path ([IO.Path]::GetTempPath()) "qb-report-$PID"
    New-Item -ItemType Directory -Force -Path $Work | Out-Null
    function New-Record([string]$Name, [string]$Outcome, [string]$Cause, [hashtable]$More = @{}) {
        $record = [pscustomobject]@{
            ComputerName = $Name; Outcome = $Outcome; State = $null; Cause = $Cause; Reason = 'reason'
            Manufacturer = 'Contoso'; Model = 'Alpha 14'; Firmware = '1.2.0'; FirmwareDate = '2025-01-10'; Version = '1.0.0'
            Time = [datetime]::SpecifyKind([datetime]'2026-12-07T06:00:00', 'Utc'); Source = 'line'; Error = $null; Raw = $null
        }
        foreach ($key in $More.Keys) { $record.$key = $More[$key] }
        $record.PSTypeNames.Insert(0, 'QuickBoot.FleetRecord')
        return $record
    }
    function Get-Page([object[]]$Records, [hashtable]$Options = @{}) {
        $path = Join-Path $Work 'page.html'
        $Records | Export-QuickBootFleetReport -Path $path @Options
        return [IO.File]::ReadAllText($path)
    }
}

AfterAll {
    Remove-Item -LiteralPath $Work -Recurse -Force -ErrorAction SilentlyContinue
}

Describe 'Export-QuickBootFleetReport' {
    BeforeAll {
        # Every field a machine reports carries markup of its own, tagged with the field's name.
        function Hostile([string]$Field) { return "<b data-field=`"$Field`">'$Field'&amp;" }
        $hostile = New-Record (Hostile 'ComputerName') 'error' 'library_hung' @{
            Reason = Hostile 'Reason'; Manufacturer = Hostile 'Manufacturer'; Model = Hostile 'Model'
            Firmware = Hostile 'Firmware'; FirmwareDate = Hostile 'FirmwareDate'; Version = Hostile 'Version'
            Error = Hostile 'Error'; Raw = Hostile 'Raw'
        }
        $previous = New-Record (Hostile 'ComputerName') 'compliant' 'quick_boot_on'
        $Page = Get-Page @($hostile, (New-Record 'PC-2' 'compliant' 'quick_boot_on')) @{
            Previous = @($previous); Title = Hostile 'Title'
        }
    }

    It 'escapes <Field> wherever it shows' -ForEach @(
        @{ Field = 'ComputerName'; Places = 2 }  # the machines' table and the newly failing
        @{ Field = 'Reason'; Places = 1 }
        @{ Field = 'Manufacturer'; Places = 3 }  # the heat table, the firmware table, the machines' table
        @{ Field = 'Model'; Places = 3 }
        @{ Field = 'Firmware'; Places = 2 }
        @{ Field = 'FirmwareDate'; Places = 1 }
        @{ Field = 'Version'; Places = 1 }
        @{ Field = 'Error'; Places = 1 }
        @{ Field = 'Raw'; Places = 1 }
        @{ Field = 'Title'; Places = 2 }  # the title and the heading
    ) {
        $escaped = "&lt;b data-field=&quot;$Field&quot;&gt;&#39;$Field&#39;&amp;amp;"
        ([regex]::Matches($Page, [regex]::Escape($escaped))).Count | Should -Be $Places
        $Page | Should -Not -Match "data-field=`"$Field`""
    }

    It 'cuts a long reason at a blank, and a long name not at all' {
        $reason = ('word ' * 100) + 'END'
        $name = 'PC-' + ('x' * 400)
        $page = Get-Page @((New-Record $name 'error' 'library_hung' @{ Reason = $reason }))
        $page.Contains("<td class=`"reason`">$(('word ' * 58) + 'word...') <span class=`"note`">") | Should -BeTrue
        $page.Contains('END') | Should -BeFalse
        $page.Contains(">$name</th>") | Should -BeTrue
    }

    It 'lists the failing machines first, at most -Limit, and says how many it left out' {
        $records = @(New-Record 'PC-1' 'drift' 'quick_boot_off'), (New-Record 'PC-2' 'error' 'file_missing'),
            (New-Record 'PC-3' 'not_applicable' 'key_missing'), (New-Record 'PC-4' 'error' 'library_hung'),
            (New-Record 'PC-5' 'error' 'library_hung'), (New-Record 'PC-6' 'compliant' 'quick_boot_on')
        $page = Get-Page $records @{ Limit = 3 }
        $table = $page.Substring($page.IndexOf('<table id="machines"'))
        [regex]::Matches($table, '<th scope="row">([^<]*)</th>') | ForEach-Object { $_.Groups[1].Value } |
            Should -Be @('PC-4', 'PC-5', 'PC-2')
        $table | Should -Match 'the first 3 of 5 listed'
    }
}
