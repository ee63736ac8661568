# Configuration Manager configuration item, discovery script (data type String; compliance rule
# Begins with "compliant: quick_boot_on:", or "compliant: quick_boot_off:"). Prints the status
# line "compliant: ..." or "drift: ..." and exits 0: the discovered value. On a failure it writes
# its "error: <cause>: ..." line to standard error and exits 1, which Configuration Manager
# reports as a discovery error with that text, never as compliant.

# ---- Settings ----------------------------------------------------------------------------------
$DesiredState = 'On'  # 'On' or 'Off', as in remediate.ps1
# The QuickBoot module's manifest. Empty: where the installer puts it,
# %ProgramW6432%\WindowsPowerShell\Modules\QuickBoot (never a folder relative to the current drive).
$QuickBootModule = ''
# ------------------------------------------------------------------------------------------------

# Without the module nothing reads the machine: the line's fields stay empty.
$unknown = ' | manufacturer=; model=; firmware=; firmware_date=; quickboot='
$failure = $null
if (-not $QuickBootModule) {
    $fullPath = if ([System.IO.Path]::DirectorySeparatorChar -eq '\') { '^(?:[A-Za-z]:\\|\\\\[^\\])' } else { '^/' }
    if ($env:ProgramW6432 -match $fullPath) {
        $QuickBootModule = "$env:ProgramW6432\WindowsPowerShell\Modules\QuickBoot\QuickBoot.psd1"
    } else {
        $failure = "error: not_installed: ProgramW6432 is not set or not a full path, and no QuickBoot module is named$unknown"
    }
}
if (-not $failure) {
    try { Import-Module -Name $QuickBootModule -ErrorAction Stop } catch {
        $failure = "error: not_installed: the QuickBoot module cannot be loaded from $QuickBootModule$unknown"
    }
}
if (-not $failure) {
    $result = Get-QuickBoot -DesiredState $DesiredState -ErrorAction SilentlyContinue
    $line = $result | ConvertTo-QuickBootStatus
    if ($result.Outcome -ne 'error') {
        Write-Output $line
        exit 0
    }
    $failure = $line
}
[Console]::Error.WriteLine($failure)
exit 1
