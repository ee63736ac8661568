# The fleet view: reads back the status lines the kits print, from each management system's
# export, as one record per machine, and sums a fleet up by result, cause and hardware.
# Dot-sourced by QuickBoot.psm1. Runs in Windows PowerShell 5.1 and PowerShell 7: no newer syntax.
# Built for 100,000 rows: one compiled pattern, the columns of an export found once, few
# function calls per row (each costs as much as building the record).

Set-StrictMode -Version 2.0

# The status line: "<outcome>: <cause>: <reason> | manufacturer=...; quickboot=<version>"; the
# hardware part is optional, as lines of older versions lack it.
$script:StatusLinePattern = New-Object System.Text.RegularExpressions.Regex (
    '^(?<outcome>compliant|drift|repaired|not_applicable|error): (?<cause>[a-z0-9_]+): (?<reason>.*?)' +
    '(?: \| manufacturer=(?<manufacturer>[^;|]*); model=(?<model>[^;|]*); firmware=(?<firmware>[^;|]*); ' +
    'firmware_date=(?<firmware_date>[^;|]*); quickboot=(?<version>[^;|]*))?$'), 'Compiled'
# Older versions printed the state in words: "compliant: quick boot is on",
# "drift: quick boot is off, wanted on", "repaired: quick boot switched on".
$script:OlderLinePattern = New-Object System.Text.RegularExpressions.Regex (
    '^(?<outcome>compliant|drift|repaired): quick boot (?:is|switched) (?<state>on|off)(?:, wanted (?:on|off))?$'), 'Compiled'
$script:HardwareGroups = @(
    @('Manufacturer', 'manufacturer'), @('Model', 'model'), @('Firmware', 'firmware'),
    @('FirmwareDate', 'firmware_date'), @('Version', 'version'))

# Where each export keeps what a record needs. Column names are compared without case, blanks
# or punctuation, so that a portal's headings ("Device name") and its API's ("DeviceName") match.
$script:ExportColumns = @{
    Intune = @{
        Name = @('devicename', 'device')
        Pre = @('preremediationdetectionscriptoutput', 'preremediationdetectionoutput')
        Post = @('postremediationdetectionscriptoutput', 'postremediationdetectionoutput')
        Error = @('remediationscripterrordetails', 'remediationscripterror', 'remediationerror')
        Time = @('modifiedtime', 'laststateupdatedatetime', 'lastupdated', 'lastrun')
    }
    ConfigMgr = @{
        Name = @('netbiosname0', 'netbiosname', 'computername', 'devicename', 'name', 'name0')
        Value = @('currentvalue', 'discoveredvalue')
        Time = @('lastcompliancemessagetime', 'lastevaluationtime', 'lastevaluation')
    }
}

$script:FailingOutcomes = @{ error = $true; unknown = $true }

# ---- Internal helpers -----------------------------------------------------------------------------

# One QuickBoot.FleetRecord: from $Fields (a hashtable of a line's fields) when given, else from
# the last status line in $Line (an output may hold more than one line), else the unknown
# record that keeps $Line in Raw. $Time, a DateTime, a DateTimeOffset or text
# ("2026-12-01T10:00:00Z" and the invariant culture's forms), becomes UTC, or $null when it does
# not read as a time. All of it in one call: in PowerShell a call costs as much as the record.
function New-FleetRecord($Line, $ComputerName, $Time, [string]$Source, $ErrorText, $Fields) {
    $raw = $null
    if ($null -eq $Fields) {
        $text = [string]$Line
        $lines = $text -split "`r?`n"
        for ($i = $lines.Count - 1; $i -ge 0 -and $null -eq $Fields; $i--) {
            $one = $lines[$i].Trim()
            if (-not $one) { continue }
            $match = $script:StatusLinePattern.Match($one)
            if ($match.Success) {
                $groups = $match.Groups
                $Fields = @{
                    Outcome = $groups['outcome'].Value; Cause = $groups['cause'].Value; Reason = $groups['reason'].Value
                    Manufacturer = $null; Model = $null; Firmware = $null; FirmwareDate = $null; Version = $null
                }
                if ($groups['manufacturer'].Success) {
                    foreach ($pair in $script:HardwareGroups) {
                        $value = $groups[$pair[1]].Value.Trim()
                        if ($value) { $Fields[$pair[0]] = $value }
                    }
                }
                continue
            }
            $match = $script:OlderLinePattern.Match($one)
            if ($match.Success) {
                $outcome = $match.Groups['outcome'].Value
                $Fields = @{
                    Outcome = $outcome; Cause = 'quick_boot_' + $match.Groups['state'].Value
                    Reason = $one.Substring($outcome.Length + 2)
                    Manufacturer = $null; Model = $null; Firmware = $null; FirmwareDate = $null; Version = $null
                }
            }
        }
        if ($null -eq $Fields) {
            $raw = $text
            $reason = 'not a status line'
            if (-not $text.Trim()) { $reason = 'no status line' }
            $Fields = @{
                Outcome = 'unknown'; Cause = $null; Reason = $reason
                Manufacturer = $null; Model = $null; Firmware = $null; FirmwareDate = $null; Version = $null
            }
        }
    }
    if ($Time -is [datetime]) {
        if ($Time.Kind -eq [DateTimeKind]::Unspecified) { $Time = [datetime]::SpecifyKind($Time, 'Utc') } else { $Time = $Time.ToUniversalTime() }
    } elseif ($Time -is [DateTimeOffset]) {
        $Time = $Time.UtcDateTime
    } elseif ($null -ne $Time) {
        $parsed = [datetime]::MinValue
        $styles = [Globalization.DateTimeStyles]'AdjustToUniversal, AssumeUniversal'
        if ([datetime]::TryParse([string]$Time, [Globalization.CultureInfo]::InvariantCulture, $styles, [ref]$parsed)) {
            $Time = $parsed
        } else {
            $Time = $null
        }
    }
    if ($ErrorText -is [string] -and -not $ErrorText.Trim()) { $ErrorText = $null }
    if ($ComputerName -is [string] -and -not $ComputerName) { $ComputerName = $null }
    # A failure's cause is never a state.
    $state = $null
    if ($Fields.Cause -eq 'quick_boot_on') { $state = 'On' } elseif ($Fields.Cause -eq 'quick_boot_off') { $state = 'Off' }
    $record = [pscustomobject]@{
        ComputerName = $ComputerName
        Outcome = $Fields.Outcome
        State = $state
        Cause = $Fields.Cause
        Reason = $Fields.Reason
        Manufacturer = $Fields.Manufacturer
        Model = $Fields.Model
        Firmware = $Fields.Firmware
        FirmwareDate = $Fields.FirmwareDate
        Version = $Fields.Version
        Time = $Time
        Source = $Source
        Error = $ErrorText
        Raw = $raw
    }
    $record.PSTypeNames.Insert(0, 'QuickBoot.FleetRecord')
    return $record
}

# The value of a property, or $null where the object has none (strict mode forbids a plain read).
function Get-PropertyValue($Object, [string]$Name) {
    $property = $Object.PSObject.Properties[$Name]
    if ($null -eq $property) { return $null }
    return $property.Value
}

# The actual column names of an export row for each field of $Columns (see ExportColumns), or
# $null when the row lacks the columns that tell the export apart ($Required).
function Find-Columns($Row, $Columns, [string[]]$Required) {
    $byKey = @{}
    foreach ($property in $Row.PSObject.Properties) {
        $key = ($property.Name -replace '[^A-Za-z0-9]', '').ToLowerInvariant()
        if (-not $byKey.ContainsKey($key)) { $byKey[$key] = $property.Name }
    }
    $found = @{}
    foreach ($field in $Columns.Keys) {
        $found[$field] = $null
        foreach ($alias in $Columns[$field]) {
            if ($byKey.ContainsKey($alias)) { $found[$field] = $byKey[$alias]; break }
        }
    }
    foreach ($field in $Required) { if ($null -eq $found[$field]) { return $null } }
    return $found
}

# The records of an Ansible JSON callback's output (plays[].tasks[].hosts.<host>): per host, its
# last quickboot_result fact, else its last failure message (a status line), else an unknown
# record with that message.
function ConvertFrom-AnsibleOutput($Output) {
    $byHost = New-Object 'System.Collections.Generic.Dictionary[string,object]'
    foreach ($play in @(Get-PropertyValue $Output 'plays')) {
        if ($null -eq $play) { continue }
        foreach ($task in @(Get-PropertyValue $play 'tasks')) {
            if ($null -eq $task) { continue }
            $hosts = Get-PropertyValue $task 'hosts'
            if ($null -eq $hosts) { continue }
            $duration = Get-PropertyValue $task 'duration'
            $time = $null
            if ($null -ne $duration) { $time = Get-PropertyValue $duration 'end' }
            foreach ($hostResult in $hosts.PSObject.Properties) {
                $result = $hostResult.Value
                $facts = Get-PropertyValue $result 'ansible_facts'
                $fact = $null
                if ($null -ne $facts) { $fact = Get-PropertyValue $facts 'quickboot_result' }
                if ($null -ne $fact) {
                    $name = Get-PropertyValue $fact 'computer_name'
                    if (-not $name) { $name = $hostResult.Name }
                    $record = New-FleetRecord (Get-PropertyValue $fact 'status_line') $name $time 'ansible' $null
                    if ($record.Outcome -ne 'unknown') {
                        # The fact's own fields hold the same values unshortened.
                        foreach ($pair in @(@('Reason', 'reason'), @('Manufacturer', 'manufacturer'), @('Model', 'model'),
                                @('Firmware', 'firmware'), @('FirmwareDate', 'firmware_date'), @('Version', 'version'))) {
                            $value = Get-PropertyValue $fact $pair[1]
                            if ($value) { $record.($pair[0]) = [string]$value }
                        }
                    }
                    $byHost[$hostResult.Name] = $record
                    continue
                }
                $message = [string](Get-PropertyValue $result 'msg')
                $failed = (Get-PropertyValue $result 'failed') -eq $true
                $unreachable = (Get-PropertyValue $result 'unreachable') -eq $true
                if (-not ($failed -or $unreachable)) {
                    if (-not $byHost.ContainsKey($hostResult.Name)) { $byHost[$hostResult.Name] = $null }
                    continue
                }
                $record = New-FleetRecord $message $hostResult.Name $time 'ansible' $null
                if ($record.Outcome -eq 'unknown' -and $unreachable) {
                    $record = New-FleetRecord $null $hostResult.Name $time 'ansible' $null @{
                        Outcome = 'error'; Cause = 'unreachable'; Reason = ($message -split "`r?`n")[0]
                        Manufacturer = $null; Model = $null; Firmware = $null; FirmwareDate = $null; Version = $null
                    }
                }
                $byHost[$hostResult.Name] = $record
            }
        }
    }
    foreach ($entry in $byHost.GetEnumerator()) {
        if ($null -ne $entry.Value) { $entry.Value; continue }
        New-FleetRecord '' $entry.Key $null 'ansible' $null
    }
}

# A record from a QuickBoot.Result (also deserialized, from Invoke-Command) or an older
# module's result: its own fields. A read without a desired state counts as compliant in the
# state it found; an unknown state is an error.
function ConvertFrom-ModuleResult($Result) {
    $name = Get-PropertyValue $Result 'ComputerName'
    if (-not $name) { $name = Get-PropertyValue $Result 'PSComputerName' }
    $state = Get-PropertyValue $Result 'State'
    $outcome = Get-PropertyValue $Result 'Outcome'
    $cause = Get-PropertyValue $Result 'Cause'
    if (-not $outcome) { if ($state) { $outcome = 'compliant' } else { $outcome = 'error' } }
    if ($outcome -ne 'error' -and $state) { $cause = 'quick_boot_' + ([string]$state).ToLowerInvariant() }
    $fields = @{ Outcome = $outcome; Cause = $cause; Reason = Get-PropertyValue $Result 'Reason' }
    foreach ($field in 'Manufacturer', 'Model', 'Firmware', 'FirmwareDate', 'Version') {
        $value = Get-PropertyValue $Result $field
        if ($value) { $fields[$field] = $value } else { $fields[$field] = $null }
    }
    return New-FleetRecord $null $name (Get-PropertyValue $Result 'Timestamp') 'module' $null $fields
}

# A FleetRecord again, from one re-imported with Import-Csv (all text) or Import-Clixml.
function Restore-FleetRecord($Row) {
    $fields = @{}
    foreach ($field in 'Outcome', 'Cause', 'Reason', 'Manufacturer', 'Model', 'Firmware', 'FirmwareDate', 'Version') {
        $value = Get-PropertyValue $Row $field
        if ($null -ne $value -and [string]$value -ne '') { $fields[$field] = [string]$value } else { $fields[$field] = $null }
    }
    if ($fields.Outcome -notmatch '^(compliant|drift|repaired|not_applicable|error|unknown)$') {
        return New-FleetRecord ([string]$fields.Outcome) (Get-PropertyValue $Row 'ComputerName') $null 'line' $null
    }
    $record = New-FleetRecord $null (Get-PropertyValue $Row 'ComputerName') (Get-PropertyValue $Row 'Time') `
        ([string](Get-PropertyValue $Row 'Source')) (Get-PropertyValue $Row 'Error') $fields
    if ($fields.Outcome -eq 'unknown') { $record.Cause = $null; $record.Raw = [string](Get-PropertyValue $Row 'Raw') }
    return $record
}

# The cache of the last export shape seen: a CSV or Graph page repeats one shape row after row.
$script:LastShape = $null

# The records of one input object of any shape ConvertFrom-QuickBootStatus accepts.
function ConvertFrom-FleetInput($InputObject, $ComputerName) {
    if ($null -eq $InputObject) { return New-FleetRecord '' $ComputerName $null 'line' $null }
    $base = $InputObject.PSObject.BaseObject
    if ($base -is [string]) {
        $trimmed = $base.Trim()
        if ($trimmed.StartsWith('{') -or $trimmed.StartsWith('[')) {
            try { $parsed = $trimmed | ConvertFrom-Json -ErrorAction Stop } catch { $parsed = $null }
            if ($null -ne $parsed) {
                foreach ($item in @($parsed)) { ConvertFrom-FleetInput $item $ComputerName }
                return
            }
        }
        $name = $ComputerName
        if (-not $name) { $name = Get-PropertyValue $InputObject 'PSComputerName' }
        return New-FleetRecord $base $name $null 'line' $null
    }
    if ($base -is [System.Collections.IDictionary]) { $InputObject = [pscustomobject]$base }
    elseif ($base -is [System.Collections.IList]) {
        # Windows PowerShell's ConvertFrom-Json passes a JSON array on whole.
        foreach ($item in $base) { ConvertFrom-FleetInput $item $ComputerName }
        return
    }
    $typeName = $InputObject.PSTypeNames[0]
    if ($typeName -eq 'QuickBoot.FleetRecord') { return $InputObject }

    # An export repeats one shape row after row: the columns found for the row before serve
    # while the row has them, without a search per row.
    $shape = $script:LastShape
    if ($null -eq $shape -or $null -eq $InputObject.PSObject.Properties[$shape.Marker] -or
        ($null -ne $shape.Columns.Name -and $null -eq $InputObject.PSObject.Properties[$shape.Columns.Name])) {
        $shape = $null
        $value = Get-PropertyValue $InputObject 'value'
        if ($null -ne $value -and $value -isnot [string]) {
            # A Graph response page: { "value": [ ... ] }.
            foreach ($item in @($value)) { ConvertFrom-FleetInput $item $ComputerName }
            return
        }
        $properties = $InputObject.PSObject.Properties
        if ($null -ne $properties['plays']) { return ConvertFrom-AnsibleOutput $InputObject }
        if ($null -ne $properties['Outcome'] -and $null -ne $properties['Source'] -and $null -ne $properties['Raw']) {
            return Restore-FleetRecord $InputObject
        }
        if ($typeName -match 'QuickBoot\.Result$' -or ($null -ne $properties['State'] -and $null -ne $properties['Cause'])) {
            return ConvertFrom-ModuleResult $InputObject
        }
        $columns = Find-Columns $InputObject $script:ExportColumns.Intune @('Pre')
        if ($null -ne $columns) {
            $source = 'intune-csv'
            if ($null -ne $properties['managedDevice'] -or $null -ne $properties['lastStateUpdateDateTime']) { $source = 'intune' }
            $shape = @{ Kind = 'Intune'; Marker = $columns.Pre; Columns = $columns; Source = $source }
        } else {
            $columns = Find-Columns $InputObject $script:ExportColumns.ConfigMgr @('Value')
            if ($null -ne $columns) { $shape = @{ Kind = 'ConfigMgr'; Marker = $columns.Value; Columns = $columns; Source = 'configmgr' } }
        }
        $script:LastShape = $shape
    }
    if ($null -ne $shape) {
        $columns = $shape.Columns
        $name = $null; $time = $null; $errorText = $null
        if ($columns.Name) {
            $name = $InputObject.($columns.Name)
        } elseif ($shape.Kind -eq 'Intune') {
            $device = Get-PropertyValue $InputObject 'managedDevice'
            if ($null -ne $device) { $name = Get-PropertyValue $device 'deviceName' }
        }
        if ($columns.Time) { $time = $InputObject.($columns.Time) }
        if ($shape.Kind -eq 'ConfigMgr') { return New-FleetRecord $InputObject.($columns.Value) $name $time 'configmgr' $null }
        # Intune: the post-remediation output wins; since the detection runs again after a
        # remediation, drift before it and compliant after it is a repair.
        $post = $null
        if ($columns.Post) { $post = [string]$InputObject.($columns.Post) }
        if ($columns.Error) { $errorText = $InputObject.($columns.Error) }
        if (-not ($post -and $post.Trim())) { return New-FleetRecord $InputObject.($columns.Pre) $name $time $shape.Source $errorText }
        $record = New-FleetRecord $post $name $time $shape.Source $errorText
        if ($record.Outcome -eq 'compliant' -and
            (New-FleetRecord $InputObject.($columns.Pre) $null $null '' $null).Outcome -eq 'drift') {
            $record.Outcome = 'repaired'
        }
        return $record
    }

    $line = Get-PropertyValue $InputObject 'StatusLine'
    $name = Get-PropertyValue $InputObject 'PSComputerName'
    if (-not $name) { $name = $ComputerName }
    if ($null -ne $line) { return New-FleetRecord $line $name $null 'line' $null }
    $record = New-FleetRecord '' $name $null 'line' $null
    $record.Reason = 'not a status line'
    $record.Raw = [string]$InputObject
    return $record
}

# Keeps one record per machine: the latest by Time (a later input wins a tie). Records without
# a name are all kept.
function Select-LatestRecord($Records) {
    $byName = New-Object 'System.Collections.Generic.Dictionary[string,int]' ([StringComparer]::OrdinalIgnoreCase)
    $kept = New-Object 'System.Collections.Generic.List[object]'
    foreach ($record in $Records) {
        if ($null -eq $record.ComputerName) { $kept.Add($record); continue }
        $name = [string]$record.ComputerName
        $at = 0
        if ($byName.TryGetValue($name, [ref]$at)) {
            $held = $kept[$at]
            if ($null -eq $held.Time -or ($null -ne $record.Time -and $record.Time -ge $held.Time)) { $kept[$at] = $record }
            continue
        }
        $byName[$name] = $kept.Count
        $kept.Add($record)
    }
    return , $kept
}

# ---- Commands -------------------------------------------------------------------------------------

<#
.SYNOPSIS
Reads status lines back from management systems' exports: one record per machine.
.DESCRIPTION
Takes, from the pipeline, what the management systems give back of the status line every kit
prints, and returns one QuickBoot.FleetRecord per machine with the properties ComputerName,
Outcome, State, Cause, Reason, Manufacturer, Model, Firmware, FirmwareDate, Version, Time (UTC),
Source, Error and Raw. It reads:

- status lines (strings), for example gathered with Invoke-Command (PSComputerName names the
  machine; -ComputerName names it for strings without one); a string holding JSON is read as
  the objects it holds;
- the Intune Remediations device status: the Graph deviceRunStates objects (or the whole
  response, { "value": [...] }, from ConvertFrom-Json) and the rows of the admin center's CSV
  export (Import-Csv). The post-remediation detection output wins over the pre-remediation one;
  drift before and compliant after the remediation is repaired. The remediation script's error
  is kept in Error;
- a Configuration Manager configuration item's compliance details, one row per device with the
  discovered value (CurrentValue or DiscoveredValue, Netbios_Name0 or a device name column,
  LastComplianceMessageTime), as Import-Csv reads a report's or a SQL query's CSV;
- the Ansible role's results, from the json callback's output read with ConvertFrom-Json: per
  host, its quickboot_result fact, else its failure message;
- the module's own results (QuickBoot.Result, also deserialized from Invoke-Command), where a
  read without a desired state counts as compliant;
- FleetRecords, also re-imported with Import-Csv or Import-Clixml.

A line it cannot read becomes a record with Outcome unknown that keeps the text in Raw; no
input is dropped and none raises an error. Lines of older versions ("compliant: quick boot is
on", "drift: quick boot is off, wanted on", "repaired: quick boot switched on") read as their
outcome with the cause quick_boot_on or quick_boot_off.
.PARAMETER InputObject
A status line, an export row, a Graph response, an Ansible output, a module result or a record.
.PARAMETER ComputerName
The machine a status line without PSComputerName comes from.
.INPUTS
System.String, System.Management.Automation.PSObject
.OUTPUTS
QuickBoot.FleetRecord
.EXAMPLE
Import-Csv .\remediation-device-status.csv | ConvertFrom-QuickBootStatus

Reads the Intune Remediations device status exported from the admin center.
.EXAMPLE
(Get-Content .\deviceRunStates.json -Raw | ConvertFrom-Json) | ConvertFrom-QuickBootStatus

Reads a Graph response of deviceHealthScripts/{id}/deviceRunStates?$expand=managedDevice.
.EXAMPLE
Get-Content .\ansible-output.json -Raw | ConvertFrom-Json | ConvertFrom-QuickBootStatus

Reads ansible-playbook's output written with ANSIBLE_STDOUT_CALLBACK=json.
.EXAMPLE
Invoke-Command -ComputerName (Get-Content computers.txt) -ScriptBlock { Get-QuickBoot -DesiredState On } |
    ConvertFrom-QuickBootStatus | Where-Object Outcome -ne 'compliant'

Reads the module's results from many machines and keeps those that are not compliant.
.EXAMPLE
'compliant: quick boot is on' | ConvertFrom-QuickBootStatus -ComputerName PC-0142

Reads a line of an older version: Outcome compliant, Cause quick_boot_on, State On.
#>
function ConvertFrom-QuickBootStatus {
    [CmdletBinding()]
    [OutputType('QuickBoot.FleetRecord')]
    param(
        [Parameter(Mandatory = $true, ValueFromPipeline = $true)][AllowNull()][AllowEmptyString()]
        [psobject]$InputObject,
        [string]$ComputerName
    )
    begin { $script:LastShape = $null }
    process {
        try {
            ConvertFrom-FleetInput $InputObject $ComputerName
        } catch {
            # One row that cannot be read, whatever the reason, never stops the rest.
            $record = New-FleetRecord '' $ComputerName $null 'line' $null
            $record.Reason = 'not a status line'
            try { $record.Raw = [string]$InputObject } catch { }
            $record
        }
    }
}

<#
.SYNOPSIS
Sums a fleet up: how many machines per result and cause, the failures by hardware, what changed.
.DESCRIPTION
Takes FleetRecords (or anything ConvertFrom-QuickBootStatus reads) and returns one
QuickBoot.FleetSummary:

- Total, Failing (machines whose Outcome is error or unknown) and Time (UTC, when made);
- Results: one QuickBoot.FleetResultRow (Outcome, Cause, Count, Share from 0 to 1, Meaning,
  Fix) per outcome and cause: compliant quick_boot_on, compliant quick_boot_off, drift,
  repaired, not_applicable, then the errors by count (then cause), then unknown; Meaning and Fix
  come from the module's table of causes (QuickBoot.Causes.psd1);
- ByHardware: the failing machines by Cause, Manufacturer, Model and Firmware, by count;
- Machines: the records of every machine neither compliant nor repaired;
- Changes: with -Previous, NewlyFailing, Fixed and StillFailing, each row with ComputerName,
  Cause, PreviousCause, FirstSeen (the earliest time it is known failing) and LastSeen (its
  latest time); $null without -Previous.

A machine that appears more than once counts once, by its latest record.
.PARAMETER InputObject
FleetRecords, or anything ConvertFrom-QuickBootStatus reads.
.PARAMETER Previous
An earlier snapshot's records, for example saved with Export-Csv or Export-Clixml and read
back with Import-Csv or Import-Clixml.
.INPUTS
QuickBoot.FleetRecord, System.String, System.Management.Automation.PSObject
.OUTPUTS
QuickBoot.FleetSummary
.EXAMPLE
Import-Csv .\remediation-device-status.csv | Measure-QuickBootFleet | Select-Object -ExpandProperty Results

Counts the machines of an Intune export by outcome and cause.
.EXAMPLE
$records = Import-Csv .\remediation-device-status.csv | ConvertFrom-QuickBootStatus
$records | Export-Csv ".\fleet-$(Get-Date -Format yyyy-MM-dd).csv" -NoTypeInformation -Encoding UTF8
($records | Measure-QuickBootFleet -Previous (Import-Csv .\fleet-2026-12-03.csv)).Changes.NewlyFailing

Keeps this week's snapshot and lists the machines failing since last week's.
.EXAMPLE
(Import-Csv .\compliance.csv | Measure-QuickBootFleet).ByHardware | Format-Table

Shows which manufacturers, models and firmware the failures of a Configuration Manager export share.
#>
function Measure-QuickBootFleet {
    [CmdletBinding()]
    [OutputType('QuickBoot.FleetSummary')]
    param(
        [Parameter(Mandatory = $true, ValueFromPipeline = $true)][AllowNull()][AllowEmptyString()]
        [psobject]$InputObject,
        [psobject[]]$Previous
    )
    begin {
        $collected = New-Object 'System.Collections.Generic.List[object]'
        $other = New-Object 'System.Collections.Generic.List[object]'
    }
    process {
        if ($null -ne $InputObject -and $InputObject.PSTypeNames[0] -eq 'QuickBoot.FleetRecord') {
            $collected.Add($InputObject)
        } else {
            $other.Add($InputObject)
        }
    }
    end {
        if ($other.Count -gt 0) { foreach ($record in ($other | ConvertFrom-QuickBootStatus)) { $collected.Add($record) } }
        $records = Select-LatestRecord $collected
        $total = $records.Count
        $causes = $script:Causes

        # Counts per outcome and cause, and per failing cause and hardware.
        $counts = @{}
        $hardware = @{}
        $machines = New-Object 'System.Collections.Generic.List[object]'
        $failing = 0
        foreach ($record in $records) {
            $key = "$($record.Outcome)`t$($record.Cause)"
            if ($counts.ContainsKey($key)) { $counts[$key]++ } else { $counts[$key] = 1 }
            if ($record.Outcome -ne 'compliant' -and $record.Outcome -ne 'repaired') { $machines.Add($record) }
            if ($script:FailingOutcomes.ContainsKey([string]$record.Outcome)) {
                $failing++
                $key = "$($record.Cause)`t$($record.Manufacturer)`t$($record.Model)`t$($record.Firmware)"
                if ($hardware.ContainsKey($key)) { $hardware[$key]++ } else { $hardware[$key] = 1 }
            }
        }

        $outcomeRank = @{ compliant = 0; drift = 1; repaired = 2; not_applicable = 3; error = 4; unknown = 5 }
        $causeRank = @{ quick_boot_on = 0; quick_boot_off = 1 }
        $results = foreach ($entry in $counts.GetEnumerator()) {
            $parts = $entry.Key.Split("`t")
            $row = $null
            if ($parts[1] -and $causes.ContainsKey($parts[1])) { $row = $causes[$parts[1]] }
            $share = 0.0
            if ($total -gt 0) { $share = [double]$entry.Value / $total }
            $meaning = ''; $fix = ''
            if ($null -ne $row) { $meaning = $row.Meaning; $fix = $row.Fix }
            $result = [pscustomobject]@{
                Outcome = $parts[0]; Cause = $parts[1]; Count = [int]$entry.Value; Share = $share
                Meaning = $meaning; Fix = $fix
            }
            $result.PSTypeNames.Insert(0, 'QuickBoot.FleetResultRow')
            $result
        }
        $results = @($results | Sort-Object -Property @(
                @{ Expression = { $rank = $outcomeRank[$_.Outcome]; if ($null -eq $rank) { 6 } else { $rank } } },
                @{ Expression = { $rank = $causeRank[$_.Cause]; if ($null -eq $rank) { 2 } else { $rank } } },
                @{ Expression = 'Count'; Descending = $true },
                @{ Expression = 'Cause' }))

        $byHardware = foreach ($entry in $hardware.GetEnumerator()) {
            $parts = $entry.Key.Split("`t")
            $row = [pscustomobject]@{
                Cause = $parts[0]; Manufacturer = $parts[1]; Model = $parts[2]; Firmware = $parts[3]; Count = [int]$entry.Value
            }
            $row.PSTypeNames.Insert(0, 'QuickBoot.FleetHardwareRow')
            $row
        }
        $byHardware = @($byHardware | Sort-Object -Property @(
                @{ Expression = 'Count'; Descending = $true }, 'Cause', 'Manufacturer', 'Model', 'Firmware'))

        $changes = $null
        if ($PSBoundParameters.ContainsKey('Previous')) {
            $before = Select-LatestRecord @($Previous | ConvertFrom-QuickBootStatus)
            $previousByName = @{}
            foreach ($record in $before) {
                if ($null -ne $record.ComputerName) { $previousByName[[string]$record.ComputerName] = $record }
            }
            $newlyFailing = New-Object 'System.Collections.Generic.List[object]'
            $fixed = New-Object 'System.Collections.Generic.List[object]'
            $stillFailing = New-Object 'System.Collections.Generic.List[object]'
            foreach ($record in $records) {
                if ($null -eq $record.ComputerName) { continue }
                $earlier = $previousByName[[string]$record.ComputerName]
                $failsNow = $script:FailingOutcomes.ContainsKey([string]$record.Outcome)
                $failedThen = $null -ne $earlier -and $script:FailingOutcomes.ContainsKey([string]$earlier.Outcome)
                if (-not ($failsNow -or $failedThen)) { continue }
                $firstSeen = $record.Time
                $previousCause = $null
                if ($null -ne $earlier) { $previousCause = $earlier.Cause }
                if ($failedThen -and $null -ne $earlier.Time) { $firstSeen = $earlier.Time }
                $lastSeen = $record.Time
                if ($null -eq $lastSeen -and $null -ne $earlier) { $lastSeen = $earlier.Time }
                $change = [pscustomobject]@{
                    ComputerName = $record.ComputerName; Cause = $record.Cause; PreviousCause = $previousCause
                    FirstSeen = $firstSeen; LastSeen = $lastSeen
                }
                $change.PSTypeNames.Insert(0, 'QuickBoot.FleetChange')
                if ($failsNow -and $failedThen) { $stillFailing.Add($change) }
                elseif ($failsNow) { $newlyFailing.Add($change) }
                else { $fixed.Add($change) }
            }
            $changes = [pscustomobject]@{
                NewlyFailing = @($newlyFailing | Sort-Object -Property ComputerName)
                Fixed = @($fixed | Sort-Object -Property ComputerName)
                StillFailing = @($stillFailing | Sort-Object -Property ComputerName)
            }
            $changes.PSTypeNames.Insert(0, 'QuickBoot.FleetChanges')
        }

        $summary = [pscustomobject]@{
            Total = [int]$total
            Time = [datetime]::UtcNow
            Failing = [int]$failing
            Results = $results
            ByHardware = $byHardware
            Machines = $machines.ToArray()
            Changes = $changes
        }
        $summary.PSTypeNames.Insert(0, 'QuickBoot.FleetSummary')
        return $summary
    }
}

# What the console shows of these objects by default.
Update-TypeData -TypeName 'QuickBoot.FleetRecord' -DefaultDisplayPropertySet ComputerName, Outcome, Cause, Model, Reason -Force
Update-TypeData -TypeName 'QuickBoot.FleetResultRow' -DefaultDisplayPropertySet Outcome, Cause, Count, Share, Fix -Force
Update-TypeData -TypeName 'QuickBoot.FleetSummary' -DefaultDisplayPropertySet Total, Failing, Time, Results -Force
