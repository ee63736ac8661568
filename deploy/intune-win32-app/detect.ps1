# Intune Win32 app, detection rule script. Intune counts the app as installed (detected) only
# when the script exits 0 and prints something: here "compliant: ..." when the quick-boot switch
# is in the desired state. Drift and failures exit 1 with their line (not detected).

# ---- Settings ----------------------------------------------------------------------------------
$DesiredState = 'On'  # 'On' or 'Off', as the install command's -State
$QuickBootModule = "$env:ProgramW6432\WindowsPowerShell\Modules\QuickBoot\QuickBoot.psd1"
# ------------------------------------------------------------------------------------------------

try { Import-Module -Name $QuickBootModule -ErrorAction Stop } catch {
    Write-Output "error: not_installed: the QuickBoot module cannot be loaded from $QuickBootModule"
    exit 1
}
$result = Get-QuickBoot -ErrorAction SilentlyContinue
if ($result.State -eq $DesiredState) {
    Write-Output "compliant: $($result.Reason)"
    exit 0
}
if ($null -eq $result.State) {
    Write-Output "error: $($result.Cause): $($result.Reason)"
} else {
    Write-Output "drift: $($result.Reason), wanted $($DesiredState.ToLowerInvariant())"
}
exit 1
