# The stand-in, where the program's scripts import the system's NetSecurity.
# PowerShell 7 takes a module in Windows PowerShell's own folder for one of
# Windows PowerShell's, and loads it only where it names the Core edition.
@{ ModuleVersion = '2.0.0.0'; RootModule = 'NetSecurity.psm1'; CompatiblePSEditions = @('Desktop', 'Core')
   FunctionsToExport = 'Get-NetFirewallRule', 'Get-NetFirewallApplicationFilter', 'Remove-NetFirewallRule', 'New-NetFirewallRule' }
