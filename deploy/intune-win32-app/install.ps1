# Intune Win32 app, install and uninstall command: brings the quick-boot switch to -State (reads
# first, writes only on drift). Install: install.ps1 -State On; uninstall: install.ps1 -State Off
# (an uninstall switches quick boot off, whatever it was before the install). Exit 0 on success,
# 1 on any failure (Failed in Intune). One line of output: repaired:, compliant: or error:.
param(
    [ValidateSet('On', 'Off')][string]$State = 'On'
)

# ---- Settings ----------------------------------------------------------------------------------
$QuickBootModule = "$env:ProgramW6432\WindowsPowerShell\Modules\QuickBoot\QuickBoot.psd1"
# Below the app's installation time required (60 minutes by default); a write still running
# then is left to finish and the install fails with write_still_running.
$WriteTimeoutSeconds = 300
# ------------------------------------------------------------------------------------------------

try { Import-Module -Name $QuickBootModule -ErrorAction Stop } catch {
    Write-Output "error: not_installed: the QuickBoot module cannot be loaded from $QuickBootModule"
    exit 1
}
$result = Set-QuickBoot -State $State -WriteTimeoutSeconds $WriteTimeoutSeconds -Confirm:$false `
    -ErrorAction SilentlyContinue
if ($null -eq $result.State) {
    Write-Output "error: $($result.Cause): $($result.Reason)"
    exit 1
}
Write-Output "$(if ($result.Changed) { 'repaired' } else { 'compliant' }): $($result.Reason)"
exit 0
