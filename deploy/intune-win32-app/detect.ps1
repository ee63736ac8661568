# Intune Win32 app, detection rule script. Intune counts the app as installed (detected) only
# when the script exits 0 and prints something: here the status line "compliant: ..." when the
# quick-boot switch is in the desired state. Drift and failures exit 1 with their line (not
# detected); nothing goes to standard error, which would make a detection fail.

# ---- Settings ----------------------------------------------------------------------------------
$DesiredState = 'On'  # 'On' or 'Off', as the install command's -State
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
    Write-Output $failure
    exit 1
}
$result = Get-QuickBoot -DesiredState $DesiredState -ErrorAction SilentlyContinue
Write-Output ($result | ConvertTo-QuickBootStatus)
exit $(if ($result.Outcome -eq 'compliant') { 0 } else { 1 })
