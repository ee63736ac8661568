# Intune Win32 app, requirement rule script (output data type String, operator Equals, value
# "applicable"). Prints "applicable" when quickboot.exe reads the switch; on a machine whose
# control library quickboot.exe cannot locate, load or call (it answers 100) it prints the status
# line "not_applicable: <cause>: ...", which equals nothing the rule accepts, so that Intune shows
# the app as Not applicable there instead of Failed. Any other failure, the module missing too,
# stays applicable, so that the install fails visibly.

# ---- Settings ----------------------------------------------------------------------------------
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
if ($failure) {
    Write-Output 'applicable'
    exit 0
}
$result = Get-QuickBoot -ErrorAction SilentlyContinue
if ($null -eq $result.State -and $result.ReadExitCode -eq 100) {
    Write-Output ($result | ConvertTo-QuickBootStatus -Outcome 'not_applicable')
} else {
    Write-Output 'applicable'
}
exit 0
