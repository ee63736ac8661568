# Intune Remediations, remediation script: brings the quick-boot switch to the desired state
# (reads first, writes only on drift). Exit 0 when it is (now) there, 1 on any failure. One line
# of output: repaired:, compliant: or error: <cause>: <reason>.

# ---- Settings ----------------------------------------------------------------------------------
$DesiredState = 'On'  # 'On' or 'Off', as in detect.ps1
$QuickBootModule = "$env:ProgramW6432\WindowsPowerShell\Modules\QuickBoot\QuickBoot.psd1"
# Remediations end a script after 60 minutes; a write still running then is left to finish.
$WriteTimeoutSeconds = 300
# ------------------------------------------------------------------------------------------------

try { Import-Module -Name $QuickBootModule -ErrorAction Stop } catch {
    Write-Output "error: not_installed: the QuickBoot module cannot be loaded from $QuickBootModule"
    exit 1
}
$result = Set-QuickBoot -State $DesiredState -WriteTimeoutSeconds $WriteTimeoutSeconds `
    -Confirm:$false -ErrorAction SilentlyContinue
if ($null -eq $result.State) {
    Write-Output "error: $($result.Cause): $($result.Reason)"
    exit 1
}
$prefix = if ($result.Changed) { 'repaired' } else { 'compliant' }
Write-Output "${prefix}: $($result.Reason)"
exit 0
