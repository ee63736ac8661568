@{
    RootModule = 'QuickBoot.psm1'
    ModuleVersion = '1.0.0'
    GUID = '6f0c2b7e-4d1a-4c56-9b1e-2a7f3e8d5c41'
    Author = 'quickboot'
    Description = 'Reads and changes the quick-boot switch through quickboot.exe, with the diagnostic companion''s reasons.'
    PowerShellVersion = '5.1'
    CompatiblePSEditions = @('Desktop', 'Core')
    FunctionsToExport = @('Get-QuickBoot', 'Set-QuickBoot', 'Test-QuickBoot', 'Get-QuickBootDiagnosis', 'ConvertTo-QuickBootStatus', 'ConvertFrom-QuickBootStatus', 'Measure-QuickBootFleet', 'Export-QuickBootFleetReport')
    FormatsToProcess = @('QuickBoot.Format.ps1xml')
    TypesToProcess = @()
    CmdletsToExport = @()
    VariablesToExport = @()
    AliasesToExport = @()
    # The data a PowerShell repository shows. The release adds LicenseUri and ProjectUri when the
    # build's QB_LICENSE_URI and QB_PROJECT_URI are set, and stamps ModuleVersion.
    PrivateData = @{
        PSData = @{
            Tags = @('QuickBoot', 'Firmware', 'Boot', 'Intune', 'ConfigMgr', 'Windows', 'PSEdition_Desktop', 'PSEdition_Core')
            ReleaseNotes = 'Reads and sets the quick-boot switch through quickboot.exe (installed by the quickboot MSI, or named with -Path); results are QuickBoot.Result objects with a status line for management tools. See README.md in the release.'
        }
    }
}
