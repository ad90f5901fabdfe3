# A look-alike of the firewall module, in the folder PowerShell searches
# first for modules (scripts/wine-prefix.sh puts it there). The program's
# scripts load the system's module by its full path, so this never runs; if
# it does, it says so in the stand-in's rule store.
Set-Content -LiteralPath $env:STANDIN_RULES -Value '[{ "Name": "look-alike ran" }]'
function Get-NetFirewallRule {}
function Get-NetFirewallApplicationFilter {}
function Remove-NetFirewallRule {}
function New-NetFirewallRule {}
