# Parses every PowerShell file under the given folders (.ps1, .psm1, .psd1) and the PowerShell
# command that the start-up script assembles, and walks their syntax trees for what Windows
# PowerShell 5.1, which Intune and Configuration Manager start, does not have. Also checks what
# 5.1 and cmd.exe need of them: ASCII only (a file without a byte order mark is read in the ANSI
# code page), and no character in the start-up script's command that cmd.exe would change.
# Usage: pwsh -File check_powershell.ps1 STARTUP_SCRIPT FOLDER...
param(
    [string]$StartupScript,
    [Parameter(ValueFromRemainingArguments = $true)][string[]]$Folders
)

$ErrorActionPreference = 'Stop'
$problems = New-Object System.Collections.Generic.List[string]

# Language newer than 5.1, by syntax-tree node. Each test takes a node and answers $true for one.
$newer = @(
    @{ What = 'the ternary operator ?:'; Test = { param($n) $n -is [System.Management.Automation.Language.TernaryExpressionAst] } }
    @{ What = 'a && or || pipeline chain'; Test = { param($n) $n -is [System.Management.Automation.Language.PipelineChainAst] } }
    @{ What = 'the null-coalescing operator ?? or ??='; Test = {
            param($n)
            ($n -is [System.Management.Automation.Language.BinaryExpressionAst] -and $n.Operator -eq 'QuestionQuestion') -or
            ($n -is [System.Management.Automation.Language.AssignmentStatementAst] -and $n.Operator -eq 'QuestionQuestionEquals') } }
    @{ What = 'a null-conditional ?. or ?['; Test = {
            param($n)
            ($n -is [System.Management.Automation.Language.MemberExpressionAst] -or
                $n -is [System.Management.Automation.Language.IndexExpressionAst]) -and $n.NullConditional } }
    @{ What = 'a clean block'; Test = { param($n) $n -is [System.Management.Automation.Language.ScriptBlockAst] -and $null -ne $n.CleanBlock } }
    @{ What = 'a background pipeline (&)'; Test = { param($n) $n -is [System.Management.Automation.Language.PipelineAst] -and $n.Background } }
    @{ What = 'ForEach-Object -Parallel'; Test = {
            param($n)
            $n -is [System.Management.Automation.Language.CommandParameterAst] -and 'Parallel'.StartsWith($n.ParameterName, 'OrdinalIgnoreCase') -and
            $n.Parent.GetCommandName() -in @('ForEach-Object', '%', 'foreach') } }
)

function Test-Source([string]$Name, [string]$Text) {
    $tokens = $null
    $errors = $null
    $ast = [System.Management.Automation.Language.Parser]::ParseInput($Text, [ref]$tokens, [ref]$errors)
    foreach ($e in $errors) {
        $problems.Add("${Name}:$($e.Extent.StartLineNumber):$($e.Extent.StartColumnNumber): $($e.Message)")
    }
    foreach ($rule in $newer) {
        $test = $rule.Test
        foreach ($node in $ast.FindAll({ param($n) & $test $n }, $true)) {
            $problems.Add("${Name}:$($node.Extent.StartLineNumber): $($rule.What) needs PowerShell 7")
        }
    }
    if ($Text -match '[^\x09\x0a\x0d\x20-\x7e]') { $problems.Add("${Name}: not ASCII") }
}

$files = @($Folders | ForEach-Object { Get-ChildItem -Recurse -File -Path $_ -Include *.ps1, *.psm1, *.psd1 } | Sort-Object FullName)
foreach ($file in $files) {
    Test-Source $file.FullName ([IO.File]::ReadAllText($file.FullName, [Text.Encoding]::GetEncoding(28591)))
}

# A module manifest (the .psd1 named as its folder; the others are data files, which must load
# as such) must load, and name both editions: Windows PowerShell 5.1 and PowerShell 7.
foreach ($data in $files | Where-Object { $_.Extension -eq '.psd1' -and $_.BaseName -ne $_.Directory.Name }) {
    try {
        $null = Import-PowerShellDataFile -LiteralPath $data.FullName -ErrorAction Stop
    } catch {
        $problems.Add("$($data.FullName): $($_.Exception.Message)")
    }
}
foreach ($manifest in $files | Where-Object { $_.Extension -eq '.psd1' -and $_.BaseName -eq $_.Directory.Name }) {
    try {
        $module = Test-ModuleManifest -Path $manifest.FullName -ErrorAction Stop
        foreach ($edition in 'Desktop', 'Core') {
            if ($module.CompatiblePSEditions -notcontains $edition) { $problems.Add("$($manifest.FullName): not for $edition") }
        }
    } catch {
        $problems.Add("$($manifest.FullName): $($_.Exception.Message)")
    }
}

# The command the start-up script builds with set "NAME=..." lines, one command a name.
$commands = [ordered]@{}
foreach ($line in [IO.File]::ReadAllLines($StartupScript, [Text.Encoding]::GetEncoding(28591))) {
    if ($line -match '^set "(PS_[A-Z_]+)=(?:%\1% )?(.*)"$') {
        $commands[$Matches[1]] = (@($commands[$Matches[1]]) + $Matches[2]) -join ' '
    }
}
if ($commands.Count -eq 0) { $problems.Add("${StartupScript}: no PowerShell command found") }
foreach ($name in $commands.Keys) {
    $command = $commands[$name].Trim()
    if ($command -notmatch 'WaitForExit\(') { $problems.Add("${StartupScript}: ${name} waits for nothing") }
    if ($command -match '["%!^]') { $problems.Add("${StartupScript}: ${name} holds "" % ! or ^") }
    Test-Source "$StartupScript ($name)" $command
}

foreach ($problem in $problems) { [Console]::Error.WriteLine($problem) }
Write-Output "$($files.Count + $commands.Count) PowerShell sources parsed, $($problems.Count) problems"
exit $(if ($problems.Count -eq 0 -and $files.Count -gt 0) { 0 } else { 1 })
