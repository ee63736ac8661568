# Intune Remediations, detection script. Exit 0 ("without issues") when the quick-boot switch is
# in the desired state; 1 ("with issues") on drift and on any failure, so that the remediation
# runs and a failure shows. Prints the status line (compliant:, drift: or error: <cause>: ...),
# which the device's record keeps as the detection's output; a failure also goes to standard
# error, which the record keeps as the detection's error.

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
        exit $(if ($result.Outcome -eq 'compliant') { 0 } else { 1 })
    }
    $failure = $line
}
Write-Output $failure
[Console]::Error.WriteLine($failure)
exit 1
