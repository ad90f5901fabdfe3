# A look-alike of the firewall module, in the module folder PowerShell searches
# first (scripts/wine-prefix.sh). The program's scripts load the system's by its
# full path, so this never runs; if it does, it says so in the rule store.
Set-Content -LiteralPath $env:STANDIN_RULES -Value '[{ "Name": "look-alike ran" }]'
function Get-NetFirewallRule {}
function Get-NetFirewallApplicationFilter {}
function Remove-NetFirewallRule {}
function New-NetFirewallRule {}
