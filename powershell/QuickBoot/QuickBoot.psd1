@{
    RootModule = 'QuickBoot.psm1'
    ModuleVersion = '1.0.0'
    GUID = '6f0c2b7e-4d1a-4c56-9b1e-2a7f3e8d5c41'
    Author = 'quickboot'
    Description = 'Reads and changes the quick-boot switch through quickboot.exe, with the diagnostic companion''s reasons.'
    PowerShellVersion = '5.1'
    CompatiblePSEditions = @('Desktop', 'Core')
    FunctionsToExport = @('Get-QuickBoot', 'Set-QuickBoot', 'Test-QuickBoot', 'Get-QuickBootDiagnosis', 'ConvertTo-QuickBootStatus')
    FormatsToProcess = @('QuickBoot.Format.ps1xml')
    TypesToProcess = @()
    CmdletsToExport = @()
    VariablesToExport = @()
    AliasesToExport = @()
}
