# Intune Win32 app, install and uninstall command: brings the quick-boot switch to -State (reads
# first, writes only on drift). Install: install.ps1 -State On; uninstall: install.ps1 -State Off
# (an uninstall switches quick boot off, whatever it was before the install). Exit 0 on success,
# 1 on any failure (Failed in Intune, which keeps only the exit code). Prints the status line
# (repaired:, compliant: or error: <cause>: ...).
param(
    [ValidateSet('On', 'Off')][string]$State = 'On'
)

# ---- Settings ----------------------------------------------------------------------------------
# The QuickBoot module's manifest. Empty: where the installer puts it,
# %ProgramW6432%\WindowsPowerShell\Modules\QuickBoot (never a folder relative to the current drive).
$QuickBootModule = ''
# Below the app's installation time required (60 minutes by default); a write still running
# then is left to finish and the install fails with write_still_running.
$WriteTimeoutSeconds = 300
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
if ($failure) {
    Write-Output $failure
    exit 1
}
$result = Set-QuickBoot -State $State -WriteTimeoutSeconds $WriteTimeoutSeconds -Confirm:$false `
    -ErrorAction SilentlyContinue
Write-Output ($result | ConvertTo-QuickBootStatus)
exit $(if ($result.Outcome -eq 'error') { 1 } else { 0 })
