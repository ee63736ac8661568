# Intune Remediations, remediation script: brings the quick-boot switch to the desired state
# (reads first, writes only on drift). Exit 0 when it is (now) there, 1 on any failure. Prints
# the status line (repaired:, compliant: or error: <cause>: ...); a failure also goes to standard
# error, since the device's record keeps the remediation's error output, not its output.

# ---- Settings ----------------------------------------------------------------------------------
$DesiredState = 'On'  # 'On' or 'Off', as in detect.ps1
# The QuickBoot module's manifest. Empty: where the installer puts it,
# %ProgramW6432%\WindowsPowerShell\Modules\QuickBoot (never a folder relative to the current drive).
$QuickBootModule = ''
# Remediations end a script after 60 minutes; a write still running then is left to finish.
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
if (-not $failure) {
    $result = Set-QuickBoot -State $DesiredState -WriteTimeoutSeconds $WriteTimeoutSeconds `
        -Confirm:$false -ErrorAction SilentlyContinue
    $line = $result | ConvertTo-QuickBootStatus
    if ($result.Outcome -ne 'error') {
        Write-Output $line
        exit 0
    }
    $failure = $line
}
Write-Output $failure
[Console]::Error.WriteLine($failure)
exit 1
