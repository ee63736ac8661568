# Configuration Manager configuration item, remediation script: brings the quick-boot switch to
# the desired state (reads first, writes only on drift). Prints "repaired: ..." (or
# "compliant: ...") and exits 0; on a failure it writes "error: <cause>: <reason>" to standard
# error and exits 1.

# ---- Settings ----------------------------------------------------------------------------------
$DesiredState = 'On'  # 'On' or 'Off', as in discover.ps1
$QuickBootModule = "$env:ProgramW6432\WindowsPowerShell\Modules\QuickBoot\QuickBoot.psd1"
# With the read (20 seconds) and the companion's report (20), below the client's script
# execution timeout: raise that from its default of 60 seconds to 120 (see README.md).
$WriteTimeoutSeconds = 60
# ------------------------------------------------------------------------------------------------

try { Import-Module -Name $QuickBootModule -ErrorAction Stop } catch {
    [Console]::Error.WriteLine("error: not_installed: the QuickBoot module cannot be loaded from $QuickBootModule")
    exit 1
}
$result = Set-QuickBoot -State $DesiredState -TimeoutSeconds 20 `
    -WriteTimeoutSeconds $WriteTimeoutSeconds -Confirm:$false -ErrorAction SilentlyContinue
if ($null -eq $result.State) {
    [Console]::Error.WriteLine("error: $($result.Cause): $($result.Reason)")
    exit 1
}
Write-Output "$(if ($result.Changed) { 'repaired' } else { 'compliant' }): $($result.Reason)"
exit 0
