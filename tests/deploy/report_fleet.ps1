# Makes a fleet's records from a JSON description and writes its page with
# Export-QuickBootFleetReport: the browser test's fleets. Prints the seconds the page took.
# The description: { "machines": [ { ComputerName, Outcome, Cause, ... } ] } lists machines one by
# one; { "groups": [ { "outcome", "cause", "count" } ], "models": [ [manufacturer, model] ] }
# makes count machines per group, named PC-000000 onwards, machine i of model i mod the models'
# count and of firmware "1.<i mod 3>.0". "previous" describes the earlier snapshot the same way.
# Usage: pwsh -File report_fleet.ps1 MODULE_PSD1 FLEET_JSON HTML [TITLE]
param(
    [Parameter(Mandatory = $true)][string]$Module,
    [Parameter(Mandatory = $true)][string]$Fleet,
    [Parameter(Mandatory = $true)][string]$Html,
    [string]$Title = 'Quick boot across the fleet'
)
$ErrorActionPreference = 'Stop'
Set-StrictMode -Version 2.0
Import-Module $Module -Force

$epoch = [datetime]::SpecifyKind([datetime]'2026-12-07T06:00:00', [DateTimeKind]::Utc)
$fields = 'ComputerName', 'Outcome', 'State', 'Cause', 'Reason', 'Manufacturer', 'Model', 'Firmware',
    'FirmwareDate', 'Version', 'Time', 'Source', 'Error', 'Raw'

function New-Record([hashtable]$Values) {
    $record = [ordered]@{}
    foreach ($field in $fields) { $record[$field] = $Values[$field] }
    if ($null -eq $record.State -and $record.Cause -match '^quick_boot_(on|off)$') {
        $record.State = (Get-Culture).TextInfo.ToTitleCase($Matches[1])
    }
    if ($null -eq $record.Source) { $record.Source = 'line' }
    $object = [pscustomobject]$record
    $object.PSTypeNames.Insert(0, 'QuickBoot.FleetRecord')
    return $object
}

function New-Fleet($Description) {
    $records = New-Object Collections.Generic.List[object]
    if ($Description.PSObject.Properties['machines']) {
        foreach ($machine in $Description.machines) {
            $values = @{}
            foreach ($property in $machine.PSObject.Properties) { $values[$property.Name] = $property.Value }
            $values.Time = $epoch.AddMinutes($records.Count)
            $records.Add((New-Record $values))
        }
        return $records
    }
    # No function call per machine: a hundred thousand calls take most of a minute.
    $models = @($Description.models)
    foreach ($group in $Description.groups) {
        $state = if ($group.cause -eq 'quick_boot_on') { 'On' } elseif ($group.cause -eq 'quick_boot_off') { 'Off' } else { $null }
        for ($n = 0; $n -lt $group.count; $n++) {
            $i = $records.Count
            $model = $models[$i % $models.Count]
            $record = [pscustomobject]@{
                ComputerName = 'PC-{0:D6}' -f $i; Outcome = $group.outcome; State = $state; Cause = $group.cause
                Reason = "reason of $($group.cause)"; Manufacturer = $model[0]; Model = $model[1]
                Firmware = "1.$($i % 3).0"; FirmwareDate = '2025-03-01'; Version = '1.0.0'; Time = $epoch.AddSeconds($i)
                Source = 'line'; Error = $null; Raw = $null
            }
            $record.PSTypeNames.Insert(0, 'QuickBoot.FleetRecord')
            $records.Add($record)
        }
    }
    return $records
}

$description = Get-Content -Raw -LiteralPath $Fleet | ConvertFrom-Json
$records = New-Fleet $description
$export = @{ Path = $Html; Title = $Title }
if ($description.PSObject.Properties['previous']) { $export.Previous = @(New-Fleet $description.previous) }
$watch = [Diagnostics.Stopwatch]::StartNew()
$records | Export-QuickBootFleetReport @export
'{0:0.00}' -f $watch.Elapsed.TotalSeconds
