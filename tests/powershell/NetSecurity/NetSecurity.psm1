# Stand-in for the four firewall cmdlets the program's scripts call. Rules
# live in the JSON file $env:STANDIN_RULES as {Name, DisplayName, Program,
# Action, Direction, Profile, Enabled}; an application filter is a rule's
# {InstanceID = Name, Program}. A call whose "<cmdlet>.<parameter set>"
# matches the pattern $env:STANDIN_FAIL ('*': every call) reports an access
# error instead, non-terminating as CIM errors are; one that matches
# $env:STANDIN_THROW throws.
# In the system folder it runs in full language under an application control
# policy too, as the system's signed module does.

function Fails($cmdlet) {
  $call = "$($cmdlet.MyInvocation.MyCommand.Name).$($cmdlet.ParameterSetName)"
  if ($env:STANDIN_THROW -and $call -like $env:STANDIN_THROW) { throw 'The firewall service stopped.' }
  $env:STANDIN_FAIL -and $call -like $env:STANDIN_FAIL
}
function Read-Rules { @(Get-Content -Raw -LiteralPath $env:STANDIN_RULES | ConvertFrom-Json) }
function Write-Rules($rules) {
  ConvertTo-Json -InputObject @($rules) | Set-Content -LiteralPath $env:STANDIN_RULES
}

# The documented look-up: a value with an unescaped wildcard is a pattern;
# any other value matches exactly, ignoring case, and finding nothing is a
# non-terminating ObjectNotFound error. -Program's reference says both that
# it takes a pattern and that it does not: a value it selects otherwise by as
# a pattern than as text (compared as Windows compares paths) is an error.
function Select-Matching($items, [string]$property, [string]$value, [bool]$patterns) {
  $isPattern = $patterns -and (($value -replace '`.', '') -match '[*?\[\]]')
  $found = @($items | Where-Object { $_.$property -like $value })
  $text = @($items | Where-Object { [string]::Equals($_.$property, $value, 'OrdinalIgnoreCase') })
  if (-not $patterns -and ($found.$property -join '|') -cne ($text.$property -join '|')) {
    Write-Error -Message "-$property '$value' selects otherwise as a pattern than as text." -Category InvalidArgument
    return
  }
  if ($found.Count -eq 0 -and -not $isPattern) {
    Write-Error -Message "No object with $property '$value' was found." -Category ObjectNotFound
  }
  $found
}

function Get-NetFirewallRule {
  [CmdletBinding(DefaultParameterSetName = 'All')]
  param([Parameter(ParameterSetName = 'All')] [switch]$All,
        [Parameter(ParameterSetName = 'ByDisplayName', Mandatory)] [string[]]$DisplayName,
        [Parameter(ParameterSetName = 'ByFilter', Mandatory, ValueFromPipeline)]
        $AssociatedNetFirewallApplicationFilter)
  process {
    if (Fails $PSCmdlet) { Write-Error 'Access is denied.' -Category PermissionDenied; return }
    $rules = Read-Rules
    switch ($PSCmdlet.ParameterSetName) {
      'All' { $rules }
      'ByDisplayName' { foreach ($name in $DisplayName) { Select-Matching $rules DisplayName $name $true } }
      'ByFilter' { $rules | Where-Object Name -eq $AssociatedNetFirewallApplicationFilter.InstanceID }
    }
  }
}

function Get-NetFirewallApplicationFilter {
  [CmdletBinding(DefaultParameterSetName = 'All')]
  param([Parameter(ParameterSetName = 'All')] [switch]$All,
        [Parameter(ParameterSetName = 'ByProgram', Mandatory)] [string[]]$Program,
        [Parameter(ParameterSetName = 'ByRule', Mandatory, ValueFromPipeline)] $AssociatedNetFirewallRule)
  process {
    if (Fails $PSCmdlet) { Write-Error 'Access is denied.' -Category PermissionDenied; return }
    $filters = @(Read-Rules | Select-Object @{ Name = 'InstanceID'; Expression = { $_.Name } }, Program)
    switch ($PSCmdlet.ParameterSetName) {
      'All' { $filters }
      'ByProgram' { foreach ($path in $Program) { Select-Matching $filters Program $path $false } }
      'ByRule' { $filters | Where-Object InstanceID -eq $AssociatedNetFirewallRule.Name }
    }
  }
}

function Remove-NetFirewallRule {
  [CmdletBinding()]
  param([Parameter(Mandatory, ValueFromPipeline)] $InputObject)
  process {
    if (Fails $PSCmdlet) { Write-Error 'Access is denied.' -Category PermissionDenied; return }
    Write-Rules @(Read-Rules | Where-Object Name -ne $InputObject.Name)
  }
}

function New-NetFirewallRule {
  [CmdletBinding()]
  param([string]$DisplayName, [string]$Program, [string]$Direction, [string]$Action,
        [string]$Profile, [string]$Enabled)
  if (Fails $PSCmdlet) { Write-Error 'Access is denied.' -Category PermissionDenied; return }
  # ConstrainedLanguage allows no [pscustomobject] cast; JSON makes one.
  $rule = @{ Name = [string](New-Guid); DisplayName = $DisplayName; Program = $Program; Action = $Action
             Direction = $Direction; Profile = $Profile; Enabled = $Enabled } | ConvertTo-Json | ConvertFrom-Json
  Write-Rules (@(Read-Rules) + $rule)
  $rule
}
