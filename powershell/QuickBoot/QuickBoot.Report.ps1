# The fleet page: one self-contained HTML file made from Measure-QuickBootFleet's summary, which an
# administrator opens offline and mails on. Dot-sourced by QuickBoot.psm1.
# Runs in Windows PowerShell 5.1 and PowerShell 7. Keep this file ASCII: 5.1 reads a file without a
# byte order mark in the ANSI code page.

$script:ReportCulture = [Globalization.CultureInfo]::InvariantCulture
$script:ReportReasonLimit = 300   # a reason longer than this is cut in the page
$script:ReportHeatModels = 25     # models in the heat table, most failing first
$script:ReportHardwareRows = 25   # rows of the hardware and firmware table
$script:ReportChangeRows = 1000   # rows listed in each change table
$script:ReportOutcomes = @('compliant', 'drift', 'repaired', 'not_applicable', 'error', 'unknown')

# The page's style and script. The page allows nothing else (its Content-Security-Policy names
# their hashes), so it makes no request whatever its text holds. Their lines end in LF whatever
# this file's line ends: a browser reads CR LF as LF before it checks a hash.
$script:ReportStyle = @'
:root{--ink:#1f2328;--muted:#57606a;--line:#d0d7de;--panel:#f6f8fa;--accent:#0b57d0}
*{box-sizing:border-box}
[hidden]{display:none!important}
body{margin:0;font:14px/1.45 "Segoe UI",system-ui,-apple-system,"Helvetica Neue",Arial,sans-serif;color:var(--ink);background:#fff}
header{background:#102a43;color:#fff;padding:18px 32px}
header h1{margin:0;font-size:22px;font-weight:600}
header p{margin:4px 0 0;color:#d9e2ec}
nav{padding:8px 32px;border-bottom:1px solid var(--line);background:var(--panel)}
nav a{color:var(--accent);margin-right:18px;text-decoration:none}
nav a:hover,nav a:focus{text-decoration:underline}
main{padding:8px 32px 32px;max-width:1400px}
h2{font-size:18px;font-weight:600;margin:28px 0 4px}
section>p{margin:4px 0 10px;color:var(--muted)}
.tiles{display:flex;flex-wrap:wrap;gap:12px;margin:16px 0 0;padding:0}
.tiles div{flex:1 1 130px;border:1px solid var(--line);border-left-width:5px;border-radius:6px;padding:10px 14px;background:#fff}
.tiles dt{color:var(--muted);font-size:13px}
.tiles dd{margin:2px 0 0;font-size:26px;font-weight:600;font-variant-numeric:tabular-nums}
.tiles small{display:block;font-size:12px;font-weight:400;color:var(--muted)}
.t-compliant{border-left-color:#2e7d32!important}.t-drift{border-left-color:#b26a00!important}
.t-repaired{border-left-color:#1565c0!important}.t-not_applicable{border-left-color:#6b7280!important}
.t-failing{border-left-color:#c62828!important}
table{border-collapse:collapse;width:100%;margin:6px 0 4px}
caption{text-align:left;font-weight:600;padding:4px 0 6px;caption-side:top}
caption span{font-weight:400;color:var(--muted)}
th,td{border-bottom:1px solid var(--line);padding:5px 8px;text-align:left;vertical-align:top}
thead th{background:var(--panel);font-weight:600;border-bottom:2px solid var(--line);white-space:nowrap}
tbody th{font-weight:600}
td.n,th.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
code{font:12.5px/1.3 Consolas,"SFMono-Regular",Menlo,monospace}
.oc{display:inline-block;min-width:7.5em;padding:0 6px;border-radius:4px;font-size:12px;font-weight:600}
.o-compliant .oc{background:#e6f4ea;color:#1e5b24}.o-drift .oc{background:#fdf0d5;color:#7a4500}
.o-repaired .oc{background:#e3eefc;color:#0d47a1}.o-not_applicable .oc{background:#eceff1;color:#37474f}
.o-error .oc{background:#fde7e6;color:#8e1b12}.o-unknown .oc{background:#f1e7f7;color:#5b1a80}
.bar{display:flex;align-items:center;gap:8px;white-space:nowrap}
.bar svg{flex:0 0 220px;height:12px}
.bar .track{fill:#eef1f4}
.o-compliant rect.fill{fill:#2e7d32}.o-drift rect.fill{fill:#b26a00}.o-repaired rect.fill{fill:#1565c0}
.o-not_applicable rect.fill{fill:#6b7280}.o-error rect.fill{fill:#c62828}.o-unknown rect.fill{fill:#6a1b9a}
.results td:nth-child(4),.results td:nth-child(5){max-width:420px}
.muted{color:var(--muted)}
.heat td.n{min-width:4.5em}
.h1{background:#fdecea}.h2{background:#f9c9c4}.h3{background:#f19c94}
.h4{background:#c62828;color:#fff}.h5{background:#7f1d1d;color:#fff}
.heat td.h0{color:#6e7781}
.scroll{max-height:75vh;overflow:auto;border:1px solid var(--line);border-radius:6px}
.scroll table{margin:0}
.scroll thead th{position:sticky;top:0;z-index:1}
.scroll caption{padding-left:8px}
#controls{display:flex;align-items:center;gap:12px;margin:10px 0}
#controls input{font:inherit;padding:5px 8px;width:340px;max-width:100%;border:1px solid #8c959f;border-radius:6px}
#controls input:focus{outline:2px solid var(--accent);outline-offset:1px}
.js #machines.first-page tbody tr:nth-child(n+501){display:none}
#more{font:inherit;padding:4px 12px;margin:8px;border:1px solid #8c959f;border-radius:6px;background:#fff;cursor:pointer}
th button{font:inherit;font-weight:600;color:inherit;background:none;border:0;padding:0;cursor:pointer}
th button:focus{outline:2px solid var(--accent)}
th[aria-sort=ascending] button::after{content:" \25B2"}
th[aria-sort=descending] button::after{content:" \25BC"}
#machines{font-size:13px}
#machines th,#machines td{padding:4px 6px}
#machines td.t,.fd{white-space:nowrap}
td.reason{min-width:160px;max-width:480px}
.fd,.note{display:block;font-size:12px;color:var(--muted)}
details{margin:8px 0}
summary{cursor:pointer;font-weight:600}
.changes{display:flex;gap:12px;flex-wrap:wrap;margin:8px 0}
footer{padding:16px 32px;color:var(--muted);border-top:1px solid var(--line);font-size:12px}
@media print{nav,#controls{display:none}.scroll{max-height:none;overflow:visible;border:0}}
'@ -replace "`r`n", "`n"

# Run first, in the head: marks the page as scripted, so that the style lays out only the first
# page of the machines' table while the rest loads (ten thousand rows would freeze the page).
$script:ReportEarlyScript = "document.documentElement.className = 'js';"

# Filters and sorts the machines' table; only the first 500 matching rows are
# laid out at a time, the others are hidden until "Show more" (the page's first-page rule keeps
# to the same number).
$script:ReportScript = @'
(function () {
  'use strict';
  var page = 500;
  var table = document.getElementById('machines');
  var controls = document.getElementById('controls');
  if (!table || !controls) { return; }
  var body = table.tBodies[0];
  var items = Array.prototype.map.call(body.rows, function (row, index) {
    return { row: row, index: index, text: row.textContent.toLowerCase(), key: '', match: true };
  });
  var box = document.getElementById('filter');
  var shown = document.getElementById('shown');
  var more = document.getElementById('more');
  var total = items.length.toLocaleString('en');
  var limit = page;
  var timer = 0;
  function render() {
    var matched = 0;
    var visible = 0;
    items.forEach(function (item) {
      var show = item.match && visible < limit;
      if (item.match) { matched += 1; }
      if (show) { visible += 1; }
      if (item.row.hidden === show) { item.row.hidden = !show; }
    });
    shown.textContent = matched.toLocaleString('en') + ' of ' + total + ' machines' +
      (visible < matched ? ', the first ' + visible.toLocaleString('en') + ' shown' : '');
    more.hidden = visible >= matched;
  }
  function filter() {
    var words = box.value.toLowerCase().split(/\s+/).filter(Boolean);
    items.forEach(function (item) {
      item.match = words.every(function (word) { return item.text.indexOf(word) >= 0; });
    });
    limit = page;
    render();
  }
  box.addEventListener('input', function () {
    clearTimeout(timer);
    timer = setTimeout(filter, 120);
  });
  more.addEventListener('click', function () {
    limit += page;
    render();
  });
  var collator = new Intl.Collator('en', { numeric: true, sensitivity: 'base' });
  var headers = table.tHead.rows[0].cells;
  Array.prototype.forEach.call(headers, function (header, column) {
    var button = document.createElement('button');
    button.type = 'button';
    button.textContent = header.textContent;
    header.textContent = '';
    header.appendChild(button);
    button.addEventListener('click', function () {
      var ascending = header.getAttribute('aria-sort') !== 'ascending';
      items.forEach(function (item) { item.key = item.row.cells[column].textContent; });
      items.sort(function (a, b) {
        var order = collator.compare(a.key, b.key) || a.index - b.index;
        return ascending ? order : -order;
      });
      var fragment = document.createDocumentFragment();
      items.forEach(function (item) { fragment.appendChild(item.row); });
      body.appendChild(fragment);
      Array.prototype.forEach.call(headers, function (other) { other.removeAttribute('aria-sort'); });
      header.setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
      render();
    });
  });
  filter();
  table.classList.remove('first-page');
  controls.hidden = false;
}());
'@ -replace "`r`n", "`n"

# ---- Internal helpers -----------------------------------------------------------------------------

# Text from the fleet, safe between tags and in attributes: control characters become blanks.
$script:ReportControl = New-Object Text.RegularExpressions.Regex '[\x00-\x1F\x7F]'
function ConvertTo-ReportText($Value) {
    if ($null -eq $Value) { return '' }
    return [Net.WebUtility]::HtmlEncode($script:ReportControl.Replace([string]$Value, ' '))
}

# Table rows: each row's values, escaped (a DateTime as a UTC time), in place of {0}, {1} ... of
# Format. One call for all the rows: a PowerShell function call per row or per cell would make ten
# thousand rows take seconds.
function Add-ReportRows([Text.StringBuilder]$Html, [string]$Format, $Rows) {
    $control = $script:ReportControl
    $culture = $script:ReportCulture
    foreach ($values in $Rows) {
        for ($i = 0; $i -lt $values.Count; $i++) {
            $value = $values[$i]
            if ($null -eq $value) {
                $values[$i] = ''
            } elseif ($value -is [datetime]) {
                if ($value.Kind -eq [DateTimeKind]::Local) { $value = $value.ToUniversalTime() }
                $values[$i] = $value.ToString('yyyy-MM-dd HH:mm', $culture)
            } else {
                $values[$i] = [Net.WebUtility]::HtmlEncode($control.Replace([string]$value, ' '))
            }
        }
        [void]$Html.AppendFormat($culture, $Format, [object[]]$values)
    }
}

# A shown value, or a muted "not reported" when the fleet gave none.
function ConvertTo-ReportValue($Value) {
    if ($null -eq $Value -or ([string]$Value).Trim() -eq '') { return '<span class="muted">not reported</span>' }
    return ConvertTo-ReportText $Value
}

function Format-ReportCount($Count) {
    return ([long]$Count).ToString('N0', $script:ReportCulture)
}

function Format-ReportShare([double]$Share) {
    if ($Share -gt 0 -and $Share -lt 0.0005) { return '&lt;&#8201;0.1&#8201;%' }
    if ($Share -lt 1 -and $Share -ge 0.9995) { return '&gt;&#8201;99.9&#8201;%' }
    return ($Share * 100).ToString('0.0', $script:ReportCulture) + '&#8201;%'
}

# A time as UTC "yyyy-MM-dd HH:mm" (it sorts as text; not yet escaped); a DateTime of unspecified kind is UTC, as
# the fleet records give it, and text (a record re-imported from CSV) is read as UTC.
function Format-ReportTime($Time) {
    if ($null -eq $Time -or [string]$Time -eq '') { return '' }
    $utc = [datetime]::MinValue
    if ($Time -is [datetime]) {
        $utc = if ($Time.Kind -eq [DateTimeKind]::Local) { $Time.ToUniversalTime() } else { $Time }
    } elseif (-not [datetime]::TryParse([string]$Time, $script:ReportCulture,
            [Globalization.DateTimeStyles]'AssumeUniversal, AdjustToUniversal', [ref]$utc)) {
        return [string]$Time
    }
    return $utc.ToString('yyyy-MM-dd HH:mm', $script:ReportCulture)
}

function Get-ReportOutcomeClass($Outcome) {
    if ($script:ReportOutcomes -contains [string]$Outcome) { return "o-$Outcome" }
    return 'o-unknown'
}

function Get-ReportCut([string]$Text, [int]$Limit) {
    if ($Text.Length -le $Limit) { return $Text }
    $cut = $Text.LastIndexOf(' ', $Limit - 3)
    if ($cut -lt $Limit / 2) { $cut = $Limit - 3 }
    return $Text.Substring(0, $cut) + '...'
}

# "12 listed" or "the first 1,000 of 4,321 listed".
function Get-ReportListed([int]$Listed, [int]$Count) {
    if ($Listed -ge $Count) { return "$(Format-ReportCount $Count) listed" }
    return "the first $(Format-ReportCount $Listed) of $(Format-ReportCount $Count) listed"
}

function Get-ReportHash([string]$Text) {
    $sha = [Security.Cryptography.SHA256]::Create()
    try {
        return [Convert]::ToBase64String($sha.ComputeHash([Text.Encoding]::UTF8.GetBytes($Text)))
    } finally {
        $sha.Dispose()
    }
}

# The headline: total, compliant and its share, repaired, drift, not applicable, failing.
function Get-ReportHeadline($Summary) {
    $sums = @{}
    foreach ($outcome in $script:ReportOutcomes) { $sums[$outcome] = 0 }
    foreach ($row in @($Summary.Results)) {
        if ($sums.ContainsKey([string]$row.Outcome)) { $sums[[string]$row.Outcome] += [long]$row.Count }
    }
    $total = [long]$Summary.Total
    $share = if ($total -gt 0) { $sums['compliant'] / $total } else { 0 }
    $changes = ''
    if ($null -ne $Summary.Changes) {
        $changes = "<small>$(Format-ReportCount (@($Summary.Changes.NewlyFailing).Count)) new, " +
            "$(Format-ReportCount (@($Summary.Changes.Fixed).Count)) fixed</small>"
    }
    $tiles = @(
        @('total', '', 'Machines', (Format-ReportCount $total), ''),
        @('share', 't-compliant', 'Share compliant', (Format-ReportShare $share), ''),
        @('compliant', 't-compliant', 'Compliant', (Format-ReportCount $sums['compliant']), ''),
        @('repaired', 't-repaired', 'Repaired', (Format-ReportCount $sums['repaired']), ''),
        @('drift', 't-drift', 'Drift', (Format-ReportCount $sums['drift']), ''),
        @('not-applicable', 't-not_applicable', 'Not applicable', (Format-ReportCount $sums['not_applicable']), ''),
        @('failing', 't-failing', 'Failing', (Format-ReportCount $Summary.Failing), $changes)
    )
    $html = New-Object Text.StringBuilder
    [void]$html.Append('<section aria-labelledby="h-headline"><h2 id="h-headline">At a glance</h2><dl class="tiles">')
    foreach ($tile in $tiles) {
        [void]$html.Append("<div class=`"$($tile[1])`"><dt>$($tile[2])</dt><dd id=`"$($tile[0])`">$($tile[3])$($tile[4])</dd></div>")
    }
    [void]$html.Append('</dl></section>')
    return $html.ToString()
}

# Every result row with its bar, count, share, meaning and fix.
function Get-ReportResults($Summary) {
    $html = New-Object Text.StringBuilder
    [void]$html.Append('<section id="results" aria-labelledby="h-results"><h2 id="h-results">Results by outcome and cause</h2>')
    [void]$html.Append('<p>Each bar is the share of all machines; the number beside it is the count.</p>')
    [void]$html.Append('<table class="results"><caption>Machines by outcome and cause</caption><thead><tr>')
    [void]$html.Append('<th scope="col">Outcome</th><th scope="col">Cause</th><th scope="col" class="n">Machines</th>')
    [void]$html.Append('<th scope="col">Share of all machines</th><th scope="col">Meaning</th><th scope="col">What to do</th></tr></thead><tbody>')
    foreach ($row in @($Summary.Results)) {
        $share = [double]$row.Share
        $width = if ($share -gt 0) { [Math]::Max(0.5, $share * 100) } else { 0 }
        [void]$html.Append("<tr class=`"$(Get-ReportOutcomeClass $row.Outcome)`">")
        [void]$html.Append("<td><span class=`"oc`">$(ConvertTo-ReportText $row.Outcome)</span></td>")
        [void]$html.Append("<th scope=`"row`"><code>$(ConvertTo-ReportText $row.Cause)</code></th>")
        [void]$html.Append("<td class=`"n`">$(Format-ReportCount $row.Count)</td>")
        [void]$html.Append('<td><div class="bar"><svg viewBox="0 0 100 12" preserveAspectRatio="none" aria-hidden="true" focusable="false">')
        [void]$html.Append("<rect class=`"track`" width=`"100`" height=`"12`"/><rect class=`"fill`" width=`"$($width.ToString('0.###', $script:ReportCulture))`" height=`"12`"/></svg>")
        [void]$html.Append("<span>$(Format-ReportShare $share)</span></div></td>")
        $meaning = $row.Meaning
        $fix = $row.Fix
        # The table's meaning of a state token says "all is well", which drift is not.
        if ($row.Outcome -eq 'drift' -and $row.Cause -match '^quick_boot_(on|off)$') {
            $meaning = "Quick boot is $($Matches[1]), not the state wanted."
            $fix = 'let the remediation run again; it switches the setting, or says why it cannot'
        } elseif ($row.Outcome -eq 'repaired' -and $row.Cause -match '^quick_boot_(on|off)$') {
            $meaning = "Quick boot was off the state wanted and was switched $($Matches[1]): all is well now."
        }
        [void]$html.Append("<td>$(ConvertTo-ReportText $meaning)</td><td>$(ConvertTo-ReportText $fix)</td></tr>")
    }
    [void]$html.Append('</tbody></table></section>')
    return $html.ToString()
}

# Cause by model for the failing machines: a heat table whose every cell carries its count, and
# the hardware rows down to the firmware.
function Get-ReportHardware($Summary) {
    $html = New-Object Text.StringBuilder
    [void]$html.Append('<section id="hardware" aria-labelledby="h-hardware"><h2 id="h-hardware">Failures by model</h2>')
    $hardware = @($Summary.ByHardware)
    if ($hardware.Count -eq 0) {
        [void]$html.Append('<p>No machine is failing.</p></section>')
        return $html.ToString()
    }
    $models = @{}
    $causes = @{}
    foreach ($row in $hardware) {
        $key = "$($row.Manufacturer)`0$($row.Model)"
        if (-not $models.ContainsKey($key)) {
            $models[$key] = @{ Manufacturer = $row.Manufacturer; Model = $row.Model; Total = 0L; Cells = @{} }
        }
        $model = $models[$key]
        $cause = [string]$row.Cause
        $model.Total += [long]$row.Count
        if (-not $model.Cells.ContainsKey($cause)) { $model.Cells[$cause] = 0L }
        $model.Cells[$cause] += [long]$row.Count
        if (-not $causes.ContainsKey($cause)) { $causes[$cause] = 0L }
        $causes[$cause] += [long]$row.Count
    }
    $columns = @($causes.GetEnumerator() | Sort-Object @{ Expression = { $_.Value }; Descending = $true }, Name |
        ForEach-Object { $_.Name })
    $rows = @($models.Values | Sort-Object @{ Expression = { $_.Total }; Descending = $true }, @{ Expression = { "$($_.Manufacturer) $($_.Model)" } })
    $listed = @($rows | Select-Object -First $script:ReportHeatModels)
    $highest = 1L
    foreach ($model in $listed) { foreach ($count in $model.Cells.Values) { $highest = [Math]::Max($highest, $count) } }
    [void]$html.Append('<p>Failing machines by model and cause; the darker the cell, the more machines.</p>')
    [void]$html.Append("<div class=`"scroll`"><table class=`"heat`"><caption>Cause by model <span>($(Get-ReportListed $listed.Count $rows.Count) models, most failing first)</span></caption>")
    [void]$html.Append('<thead><tr><th scope="col">Manufacturer</th><th scope="col">Model</th><th scope="col" class="n">Failing</th>')
    foreach ($cause in $columns) { [void]$html.Append("<th scope=`"col`" class=`"n`"><code>$(ConvertTo-ReportText $cause)</code></th>") }
    [void]$html.Append('</tr></thead><tbody>')
    foreach ($model in $listed) {
        [void]$html.Append("<tr><td>$(ConvertTo-ReportValue $model.Manufacturer)</td><th scope=`"row`">$(ConvertTo-ReportValue $model.Model)</th>")
        [void]$html.Append("<td class=`"n`">$(Format-ReportCount $model.Total)</td>")
        foreach ($cause in $columns) {
            $count = if ($model.Cells.ContainsKey($cause)) { $model.Cells[$cause] } else { 0L }
            $level = if ($count -eq 0) { 0 } else { [int][Math]::Ceiling(5 * $count / $highest) }
            [void]$html.Append("<td class=`"n h$level`">$(Format-ReportCount $count)</td>")
        }
        [void]$html.Append('</tr>')
    }
    [void]$html.Append('</tbody></table></div>')

    $firmware = @($hardware | Select-Object -First $script:ReportHardwareRows)
    [void]$html.Append("<table><caption>Failing machines by cause, model and firmware <span>($(Get-ReportListed $firmware.Count $hardware.Count) rows, most machines first)</span></caption>")
    [void]$html.Append('<thead><tr><th scope="col">Cause</th><th scope="col">Manufacturer</th><th scope="col">Model</th><th scope="col">Firmware</th><th scope="col" class="n">Machines</th></tr></thead><tbody>')
    foreach ($row in $firmware) {
        [void]$html.Append("<tr><th scope=`"row`"><code>$(ConvertTo-ReportText $row.Cause)</code></th><td>$(ConvertTo-ReportValue $row.Manufacturer)</td>")
        [void]$html.Append("<td>$(ConvertTo-ReportValue $row.Model)</td><td>$(ConvertTo-ReportValue $row.Firmware)</td><td class=`"n`">$(Format-ReportCount $row.Count)</td></tr>")
    }
    [void]$html.Append('</tbody></table></section>')
    return $html.ToString()
}

# Newly failing, fixed and still failing since the previous snapshot.
function Get-ReportChanges($Summary) {
    $html = New-Object Text.StringBuilder
    [void]$html.Append('<section id="changes" aria-labelledby="h-changes"><h2 id="h-changes">Since the last snapshot</h2>')
    if ($null -eq $Summary.Changes) {
        [void]$html.Append('<p>No earlier snapshot was given. Keep this run''s records (Export-Clixml) and pass them with -Previous next time to see what changed.</p></section>')
        return $html.ToString()
    }
    $lists = @(
        @('newly-failing', 'Newly failing', 'failing now, not failing in the last snapshot', $true, @($Summary.Changes.NewlyFailing)),
        @('fixed', 'Fixed', 'failing in the last snapshot, not failing now', $false, @($Summary.Changes.Fixed)),
        @('still-failing', 'Still failing', 'failing in both snapshots', $false, @($Summary.Changes.StillFailing))
    )
    foreach ($list in $lists) {
        $rows = $list[4]
        $listed = @($rows | Select-Object -First $script:ReportChangeRows)
        $open = if ($list[3]) { ' open' } else { '' }
        [void]$html.Append("<details id=`"$($list[0])`"$open><summary>$($list[1]): $(Format-ReportCount $rows.Count)</summary>")
        if ($rows.Count -eq 0) {
            [void]$html.Append('<p>None.</p></details>')
            continue
        }
        [void]$html.Append("<table><caption>$($list[1]) <span>($($list[2]); $(Get-ReportListed $listed.Count $rows.Count))</span></caption>")
        [void]$html.Append('<thead><tr><th scope="col">Computer</th><th scope="col">Cause now</th><th scope="col">Cause before</th><th scope="col">Failing since (UTC)</th><th scope="col">Last seen (UTC)</th></tr></thead><tbody>')
        Add-ReportRows $html '<tr><th scope="row">{0}</th><td><code>{1}</code></td><td><code>{2}</code></td><td>{3}</td><td>{4}</td></tr>' @(
            foreach ($row in $listed) { , @($row.ComputerName, $row.Cause, $row.PreviousCause, $row.FirstSeen, $row.LastSeen) })
        [void]$html.Append('</tbody></table></details>')
    }
    [void]$html.Append('</section>')
    return $html.ToString()
}

# The machines to look at (every one neither compliant nor repaired), failing ones first, in one
# table that is complete without the script; the script only filters and sorts it.
function Get-ReportMachines($Summary, [int]$Limit) {
    # Sorted by one text key per machine (group, place of its result row, name): Sort-Object
    # with script blocks takes seconds for ten thousand machines.
    $order = @{}
    $index = 0
    foreach ($row in @($Summary.Results)) { $order["$($row.Outcome)`0$($row.Cause)"] = $index++ }
    $group = @{ error = 0; unknown = 1; drift = 2; not_applicable = 3 }
    $machines = [object[]]@($Summary.Machines).Clone()  # sorted in place below
    $keys = New-Object string[] $machines.Count
    for ($i = 0; $i -lt $machines.Count; $i++) {
        $machine = $machines[$i]
        $rank = $group[[string]$machine.Outcome]
        if ($null -eq $rank) { $rank = 4 }
        $place = $order["$($machine.Outcome)`0$($machine.Cause)"]
        if ($null -eq $place) { $place = $index }
        $keys[$i] = '{0}{1:D5}{2}' -f $rank, $place, $machine.ComputerName
    }
    # The casts pick the overload that sorts the machines along with the keys, not a copy of them.
    [Array]::Sort([Array]$keys, [Array]$machines, [Collections.IComparer][StringComparer]::Ordinal)
    $listed = if ($machines.Count -gt $Limit) { $machines[0..($Limit - 1)] } else { $machines }

    $html = New-Object Text.StringBuilder
    [void]$html.Append('<section id="machines-to-look-at" aria-labelledby="h-machines"><h2 id="h-machines">Machines to look at</h2>')
    [void]$html.Append('<p>Every machine that is neither compliant nor repaired, failing ones first. Compliant machines are counted above, not listed.</p>')
    if ($machines.Count -eq 0) {
        [void]$html.Append('<p>None: every machine is compliant or repaired.</p></section>')
        return $html.ToString()
    }
    [void]$html.Append('<div id="controls" hidden><label for="filter">Filter</label>')
    [void]$html.Append('<input id="filter" type="search" placeholder="name, cause, model, firmware..." autocomplete="off">')
    [void]$html.Append('<span id="shown" aria-live="polite"></span></div>')
    [void]$html.Append("<div class=`"scroll`"><table id=`"machines`" class=`"first-page`"><caption>Machines to look at <span>($(Get-ReportListed $listed.Count $machines.Count); times in UTC)</span></caption>")
    [void]$html.Append('<thead><tr><th scope="col">Computer</th><th scope="col">Outcome</th><th scope="col">Cause</th><th scope="col">Manufacturer</th>')
    [void]$html.Append('<th scope="col">Model</th><th scope="col">Firmware</th><th scope="col">quickboot</th><th scope="col">Reported</th><th scope="col">Reason</th></tr></thead><tbody>')
    $format = '<tr class="o-{1}"><th scope="row">{0}</th><td><span class="oc">{1}</span></td><td><code>{2}</code></td><td>{3}</td>' +
        '<td>{4}</td><td>{5} <span class="fd">{6}</span></td><td>{7}</td><td class="t">{8}</td><td class="reason">{9} <span class="note">{10}</span></td></tr>'
    $limit = $script:ReportReasonLimit
    Add-ReportRows $html $format @(foreach ($machine in $listed) {
            $reason = [string]$machine.Reason
            if ($reason.Length -gt $limit) { $reason = Get-ReportCut $reason $limit }
            # Under the reason: the text of a line that could not be read, a remediation error.
            $failure = @()
            if ([string]$machine.Raw -ne '') { $failure += 'Read: ' + (Get-ReportCut ([string]$machine.Raw) $limit) }
            if ([string]$machine.Error -ne '') { $failure += 'Remediation error: ' + (Get-ReportCut ([string]$machine.Error) $limit) }
            $failure = $failure -join ' / '
            , @($machine.ComputerName, $machine.Outcome, $machine.Cause, $machine.Manufacturer, $machine.Model,
                $machine.Firmware, $machine.FirmwareDate, $machine.Version, $machine.Time, $reason, $failure)
        })
    [void]$html.Append('</tbody></table><button id="more" type="button" hidden>Show 500 more</button></div></section>')
    return $html.ToString()
}

# The whole page for one summary.
function ConvertTo-ReportHtml($Summary, [string]$Title, [int]$Limit, [string]$Compared) {
    $title = ConvertTo-ReportText $Title
    $made = ConvertTo-ReportText (Format-ReportTime $Summary.Time)
    $policy = "default-src 'none'; style-src 'sha256-$(Get-ReportHash $script:ReportStyle)'; " +
        "script-src 'sha256-$(Get-ReportHash $script:ReportEarlyScript)' 'sha256-$(Get-ReportHash $script:ReportScript)'; base-uri 'none'; form-action 'none'"
    $html = New-Object Text.StringBuilder
    [void]$html.Append("<!DOCTYPE html>`n<html lang=`"en`">`n<head>`n<meta charset=`"utf-8`">`n")
    [void]$html.Append("<meta http-equiv=`"Content-Security-Policy`" content=`"$policy`">`n")
    [void]$html.Append("<meta name=`"viewport`" content=`"width=device-width, initial-scale=1`">`n<title>$title</title>`n")
    [void]$html.Append("<script>$($script:ReportEarlyScript)</script>`n<style>$($script:ReportStyle)</style>`n</head>`n<body>`n")
    [void]$html.Append("<header><h1>$title</h1><p>$(Format-ReportCount $Summary.Total) machines; made $made UTC$(ConvertTo-ReportText $Compared).</p></header>`n")
    [void]$html.Append('<nav aria-label="Sections"><a href="#results">Results</a><a href="#hardware">By model</a>')
    [void]$html.Append('<a href="#changes">Since the last snapshot</a><a href="#machines-to-look-at">Machines to look at</a></nav>')
    [void]$html.Append("`n<main>`n")
    [void]$html.Append((Get-ReportHeadline $Summary)).Append("`n")
    [void]$html.Append((Get-ReportResults $Summary)).Append("`n")
    [void]$html.Append((Get-ReportHardware $Summary)).Append("`n")
    [void]$html.Append((Get-ReportChanges $Summary)).Append("`n")
    [void]$html.Append((Get-ReportMachines $Summary $Limit)).Append("`n")
    [void]$html.Append("</main>`n<footer>Made by Export-QuickBootFleetReport. Shares are of all machines; failing means an outcome of error or unknown.</footer>`n")
    [void]$html.Append("<script>$($script:ReportScript)</script>`n</body>`n</html>`n")
    return $html.ToString()
}

# ---- Commands -------------------------------------------------------------------------------------

<#
.SYNOPSIS
Writes the fleet page: one self-contained HTML file with the whole fleet's quick-boot results.
.DESCRIPTION
Takes every machine's record from the pipeline (QuickBoot.FleetRecord objects, or anything
ConvertFrom-QuickBootStatus accepts, such as status lines or an Intune export's rows), measures
them with Measure-QuickBootFleet and writes one HTML file (UTF-8) that opens offline and can be
mailed on: no request leaves it, its style and charts are inline.

The page shows the headline numbers (machines, share compliant, compliant, repaired, drift, not
applicable, failing), a bar for every outcome and cause with its count, share, meaning and fix,
the failing machines' causes by model as a heat table and down to the firmware, what changed since
the records given with -Previous, and a table of the machines to look at that can be filtered and
sorted (a small script does that; without it the table is complete). Compliant and repaired
machines are counted, not listed, so the page stays small for a large fleet.

Every text from the fleet is escaped: a machine name or model holding markup shows as text.
.PARAMETER InputObject
The machines' records: QuickBoot.FleetRecord objects or anything ConvertFrom-QuickBootStatus
accepts.
.PARAMETER Path
The HTML file to write; an existing file is replaced.
.PARAMETER Previous
The records of an earlier snapshot (for example kept with Export-Clixml, or re-imported with
Import-Csv), for the changes since then.
.PARAMETER Title
The page's title.
.PARAMETER Limit
The most machines listed in the table of machines to look at, failing ones first; the page says
how many more there are.
.PARAMETER PassThru
Returns the file written.
.EXAMPLE
Import-Csv .\remediation-export.csv | Export-QuickBootFleetReport -Path .\quickboot.html

Writes the page for an Intune remediation export.
.EXAMPLE
$now = Import-Csv .\remediation-export.csv | ConvertFrom-QuickBootStatus
$now | Export-QuickBootFleetReport -Path .\quickboot.html -Previous (Import-Clixml .\last-week.xml) -Title 'Quick boot, week 50'
$now | Export-Clixml .\this-week.xml

Shows what changed since last week's records and keeps this week's for next time.
.EXAMPLE
Get-Content .\status-lines.txt | Export-QuickBootFleetReport -Path .\quickboot.html -PassThru | Invoke-Item

Writes the page for a file of status lines and opens it.
.INPUTS
QuickBoot.FleetRecord, or anything ConvertFrom-QuickBootStatus accepts.
.OUTPUTS
None; System.IO.FileInfo with -PassThru.
#>
function Export-QuickBootFleetReport {
    [CmdletBinding(SupportsShouldProcess = $true)]
    [OutputType([IO.FileInfo])]
    param(
        [Parameter(ValueFromPipeline = $true)][AllowNull()][object]$InputObject,
        [Parameter(Mandatory = $true, Position = 0)][ValidateNotNullOrEmpty()][string]$Path,
        [object[]]$Previous,
        [ValidateNotNullOrEmpty()][string]$Title = 'Quick boot across the fleet',
        [ValidateRange(1, 1000000)][int]$Limit = 10000,
        [switch]$PassThru
    )
    begin {
        $records = New-Object Collections.Generic.List[object]
    }
    process {
        if ($null -ne $InputObject) { $records.Add($InputObject) }
    }
    end {
        $measure = @{}
        $compared = ''
        if ($PSBoundParameters.ContainsKey('Previous')) {
            $measure.Previous = $Previous
            $compared = "; compared with an earlier snapshot of $(Format-ReportCount (@($Previous).Count)) machines"
        }
        $summary = $records | Measure-QuickBootFleet @measure
        $file = $PSCmdlet.GetUnresolvedProviderPathFromPSPath($Path)
        if (-not $PSCmdlet.ShouldProcess($file, 'Write the fleet page')) { return }
        $html = ConvertTo-ReportHtml $summary $Title $Limit $compared
        [IO.File]::WriteAllText($file, $html, (New-Object Text.UTF8Encoding $false))
        if ($PassThru) { Get-Item -LiteralPath $file }
    }
}
