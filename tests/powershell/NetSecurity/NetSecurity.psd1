# The stand-in, where the program's scripts import the system's NetSecurity.
@{ ModuleVersion = '2.0.0.0'; RootModule = 'NetSecurity.psm1'
   FunctionsToExport = 'Get-NetFirewallRule', 'Get-NetFirewallApplicationFilter', 'Remove-NetFirewallRule', 'New-NetFirewallRule' }
