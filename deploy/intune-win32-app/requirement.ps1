# Intune Win32 app, requirement rule script (output data type String, operator Equals, value
# "applicable"). Prints "applicable" when quickboot.exe reads the switch; on a machine whose
# control library quickboot.exe cannot locate, load or call (it answers 100) it prints
# "not applicable: <cause>: <reason>", so that Intune shows the app as Not applicable there
# instead of Failed. Any other failure stays applicable, so that the install fails visibly.

# ---- Settings ----------------------------------------------------------------------------------
$QuickBootModule = "$env:ProgramW6432\WindowsPowerShell\Modules\QuickBoot\QuickBoot.psd1"
# ------------------------------------------------------------------------------------------------

try { Import-Module -Name $QuickBootModule -ErrorAction Stop } catch {
    Write-Output 'applicable'
    exit 0
}
$result = Get-QuickBoot -ErrorAction SilentlyContinue
if ($null -eq $result.State -and $result.ReadExitCode -eq 100) {
    Write-Output "not applicable: $($result.Cause): $($result.Reason)"
} else {
    Write-Output 'applicable'
}
exit 0
