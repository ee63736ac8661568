# Intune Remediations, detection script. Exit 0 ("without issues") when the quick-boot switch is
# in the desired state; 1 ("with issues") on drift and on any failure, so that the remediation
# runs and a failure shows. One line of output: compliant:, drift: or error: <cause>: <reason>.

# ---- Settings ----------------------------------------------------------------------------------
$DesiredState = 'On'  # 'On' or 'Off', as in remediate.ps1
$QuickBootModule = "$env:ProgramW6432\WindowsPowerShell\Modules\QuickBoot\QuickBoot.psd1"
# ------------------------------------------------------------------------------------------------

try { Import-Module -Name $QuickBootModule -ErrorAction Stop } catch {
    Write-Output "error: not_installed: the QuickBoot module cannot be loaded from $QuickBootModule"
    exit 1
}
$result = Get-QuickBoot -ErrorAction SilentlyContinue
if ($null -eq $result.State) {
    Write-Output "error: $($result.Cause): $($result.Reason)"
    exit 1
}
if ($result.State -eq $DesiredState) {
    Write-Output "compliant: $($result.Reason)"
    exit 0
}
Write-Output "drift: $($result.Reason), wanted $($DesiredState.ToLowerInvariant())"
exit 1
