# Configuration Manager configuration item, remediation script: brings the quick-boot switch to
# the desired state (reads first, writes only on drift). Prints the status line ("repaired: ..."
# or "compliant: ...") and exits 0; on a failure it writes its "error: <cause>: ..." line to
# standard error and exits 1.

# ---- Settings ----------------------------------------------------------------------------------
$DesiredState = 'On'  # 'On' or 'Off', as in discover.ps1
# The QuickBoot module's manifest. Empty: where the installer puts it,
# %ProgramW6432%\WindowsPowerShell\Modules\QuickBoot (never a folder relative to the current drive).
$QuickBootModule = ''
# With the read (20 seconds) and the companion's report (20), below the client's script
# execution timeout: raise that from its default of 60 seconds to 120 (see README.md).
$WriteTimeoutSeconds = 60
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
    $result = Set-QuickBoot -State $DesiredState -TimeoutSeconds 20 `
        -WriteTimeoutSeconds $WriteTimeoutSeconds -Confirm:$false -ErrorAction SilentlyContinue
    $line = $result | ConvertTo-QuickBootStatus
    if ($result.Outcome -ne 'error') {
        Write-Output $line
        exit 0
    }
    $failure = $line
}
[Console]::Error.WriteLine($failure)
exit 1
