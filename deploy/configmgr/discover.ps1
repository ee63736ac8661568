# Configuration Manager configuration item, discovery script (data type String; compliance rule
# Equals "compliant: quick boot is on", or "... off"). Prints "compliant: ..." or "drift: ..." and
# exits 0; on a failure it writes "error: <cause>: <reason>" to standard error and exits 1, which
# Configuration Manager reports as an error, never as compliant.

# ---- Settings ----------------------------------------------------------------------------------
$DesiredState = 'On'  # 'On' or 'Off', as in remediate.ps1
$QuickBootModule = "$env:ProgramW6432\WindowsPowerShell\Modules\QuickBoot\QuickBoot.psd1"
# ------------------------------------------------------------------------------------------------

try { Import-Module -Name $QuickBootModule -ErrorAction Stop } catch {
    [Console]::Error.WriteLine("error: not_installed: the QuickBoot module cannot be loaded from $QuickBootModule")
    exit 1
}
$result = Get-QuickBoot -ErrorAction SilentlyContinue
switch ($result.State) {
    $null { [Console]::Error.WriteLine("error: $($result.Cause): $($result.Reason)"); exit 1 }
    $DesiredState { Write-Output "compliant: $($result.Reason)" }
    default { Write-Output "drift: $($result.Reason), wanted $($DesiredState.ToLowerInvariant())" }
}
exit 0
