# The fleet view at scale: a made-up fleet of -Count machines (100,000 by default) as an Intune
# Remediations export, read with Import-Csv | ConvertFrom-QuickBootStatus, summed up with
# Measure-QuickBootFleet and written as the page with Export-QuickBootFleetReport (skipped, with
# a note, where the module has no such command). Prints each stage's wall time, the processor
# time it used (wall time on a shared machine includes waiting for a core), the process's peak
# working set after it, and the page's size. A benchmark that prints figures, not a test.
# Usage: build/tools/pwsh -NoProfile -File tests/bench/fleet-bench.ps1 [-Count N] [-ModulePath PSD1]
param(
    [int]$Count = 100000,
    [string]$ModulePath = (Join-Path $PSScriptRoot '../../powershell/QuickBoot/QuickBoot.psd1'),
    [string]$Work = (Join-Path ([IO.Path]::GetTempPath()) "qb-fleet-bench-$PID")
)
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'
Import-Module $ModulePath -Force
. (Join-Path $PSScriptRoot '../deploy/New-FleetFixture.ps1')

$process = [Diagnostics.Process]::GetCurrentProcess()
function Measure-Stage([string]$Name, [scriptblock]$Stage) {
    $process.Refresh()
    $cpu = $process.TotalProcessorTime
    $clock = [Diagnostics.Stopwatch]::StartNew()
    $result = & $Stage
    $clock.Stop()
    $process.Refresh()
    Write-Host ('{0,-30} {1,7:N1} s wall {2,7:N1} s processor   peak working set {3,6:N0} MiB' -f $Name,
        $clock.Elapsed.TotalSeconds, ($process.TotalProcessorTime - $cpu).TotalSeconds, ($process.PeakWorkingSet64 / 1MB))
    $script:Totals[0] += $clock.Elapsed.TotalSeconds
    $script:Totals[1] += ($process.TotalProcessorTime - $cpu).TotalSeconds
    return , $result
}

try {
    $null = New-FleetFixture -Path $Work -Count $Count -Seed 7 -Format intune
    $csv = Join-Path $Work 'intune.csv'
    "PowerShell $($PSVersionTable.PSVersion), $([Environment]::ProcessorCount) processors; $Count machines, Intune export of $('{0:N1}' -f ((Get-Item $csv).Length / 1MB)) MiB"
    # Import-Csv alone, for its share of the time; then as an administrator runs it, streamed.
    $script:Totals = @(0.0, 0.0)
    $null = Measure-Stage 'Import-Csv alone' { $null = Import-Csv -LiteralPath $csv }
    $script:Totals = @(0.0, 0.0)
    $records = Measure-Stage 'Import-Csv | ConvertFrom-...' { , @(Import-Csv -LiteralPath $csv | ConvertFrom-QuickBootStatus) }
    $summary = Measure-Stage 'Measure-QuickBootFleet' { $records | Measure-QuickBootFleet }
    "  $($summary.Total) machines, $($summary.Failing) failing, $(@($summary.Results).Count) result rows"
    if (Get-Command Export-QuickBootFleetReport -ErrorAction SilentlyContinue) {
        $page = Join-Path $Work 'fleet.html'
        $null = Measure-Stage 'Export-QuickBootFleetReport' { $records | Export-QuickBootFleetReport -Path $page }
        '  page {0:N2} MB' -f ((Get-Item $page).Length / 1MB)
    } else {
        '  Export-QuickBootFleetReport is not in this module: the page is skipped'
    }
    '{0,-30} {1,7:N1} s wall {2,7:N1} s processor' -f 'together', $script:Totals[0], $script:Totals[1]
} finally {
    Remove-Item -LiteralPath $Work -Recurse -Force -ErrorAction SilentlyContinue
}
