# PowerShell itself reads and runs the scripts the program gave powershell.exe,
# as the end-to-end suite saved them (bin/powershell-scripts): the parser
# checks what each script says, then each runs unchanged against the stand-in
# firewall module, once as it is and once in ConstrainedLanguage mode. This is
# PowerShell 7, whose parser, quoting, wildcards and error records are those
# Windows PowerShell 5.1 runs these scripts with.
using namespace System.Management.Automation
using namespace System.Management.Automation.Language
param([string]$Pwsh, [string]$Recorded, [string]$StandIn, [string]$Acceptance)
$ErrorActionPreference = 'Stop'
$script:failures = 0
function Fail([string]$what) { Write-Host "FAIL: $what"; $script:failures++ }

# A name that an unescaped pattern of the text would match: [abc] read as its
# first character, a backtick dropped before the character it escapes.
function LookAlike([string]$text) { ($text -replace '\[([^\]])[^\]]*\]', '$1') -replace '`(.)', '$1' }
function Decoy([string]$text) { if ((LookAlike $text) -cne $text) { LookAlike $text } else { "$text decoy" } }

# The syntax tree, or nothing where the parser found errors. Windows
# PowerShell 5.1 runs these scripts: PowerShell 7's own operators (&&, ||, ??,
# ??=, ?., ?[ and the ternary ?) parse here but not there.
function Read-Script([string]$label, [string]$text) {
  $tokens = $errors = $null
  $ast = [Parser]::ParseInput($text, [ref]$tokens, [ref]$errors)
  $errors | ForEach-Object { Fail "$label line $($_.Extent.StartLineNumber): $($_.Message)" }
  $tokens | Where-Object Kind -in 'AndAnd', 'OrOr', 'QuestionQuestion', 'QuestionQuestionEquals', 'QuestionDot',
                                  'QuestionLBracket', 'QuestionMark' |
    ForEach-Object { Fail "$label line $($_.Extent.StartLineNumber): '$($_.Text)' is PowerShell 7 only" }
  if (-not $errors) { $ast }
}

# 5.1 reads a script file without a byte-order mark in the ANSI code page.
$text = Get-Content -Raw -LiteralPath $Acceptance
if ($text -cmatch '[^\x00-\x7F]') { Fail 'acceptance.ps1 holds non-ASCII text, which 5.1 would misread' }
[void](Read-Script acceptance.ps1 $text)

$records = @(Get-ChildItem -LiteralPath $Recorded -Filter *.txt | Sort-Object Name | ForEach-Object {
  $lines = @(Get-Content -LiteralPath $_.FullName -Encoding utf8)
  [pscustomobject]@{ Label = $_.BaseName; Row = $_.BaseName.Split('.')[0]; Task = $_.BaseName.Split('.')[1]
                     Path = $lines[0]; Name = $lines[1]; Script = $lines[2] } })
if ($records.Count -lt 3) { Fail "only $($records.Count) recorded scripts in $Recorded" }

$allowed = 'Import-Module', 'Get-NetFirewallApplicationFilter', 'Get-NetFirewallRule',
           'Remove-NetFirewallRule', 'New-NetFirewallRule', 'Where-Object', 'ForEach-Object', 'Out-Null'
foreach ($r in $records) {
  $ast = Read-Script $r.Label $r.Script
  if (-not $ast) { continue }
  $first = $ast.EndBlock.Statements | Select-Object -First 2 | ForEach-Object { $_.Extent.Text }
  if (($first -join '; ') -cne "`$ErrorActionPreference='Stop'; Import-Module -Name (`$PSHOME + '\Modules\NetSecurity\NetSecurity.psd1')") {
    Fail "$($r.Label): does not begin by stopping at errors and importing NetSecurity by its full path"
  }
  $p = @($ast.FindAll({ param($a) $a -is [AssignmentStatementAst] -and $a.Left.VariablePath.UserPath -eq 'p' }, $true) |
         ForEach-Object { $_.Right.Expression.Value })
  if ($r.Path -and ($p.Count -ne 1 -or $p[0] -cne $r.Path)) { Fail "$($r.Label): `$p is '$p'" }
  foreach ($command in $ast.FindAll({ param($a) $a -is [CommandAst] }, $true)) {
    $name = $command.GetCommandName()
    if ($name -cnotin $allowed) { Fail "$($r.Label): runs $($command.Extent.Text)"; continue }
    $bound = [StaticParameterBinder]::BindCommand($command, $false).BoundParameters
    if ($name -eq 'New-NetFirewallRule' -and $bound['DisplayName'].ConstantValue -cne $r.Name) {
      Fail "$($r.Label): the new rule is named '$($bound['DisplayName'].ConstantValue)'"
    }
    # Parameters that may read their value as a pattern: it must select its
    # own text and nothing else.
    $parameter = @{ 'Get-NetFirewallRule' = 'DisplayName'; 'Get-NetFirewallApplicationFilter' = 'Program' }[$name]
    if (-not $parameter -or -not $bound.ContainsKey($parameter)) { continue }
    $value = $bound[$parameter].Value
    $given = if ($value -is [VariableExpressionAst] -and $value.VariablePath.UserPath -eq 'p') { $p[0] } else { $value.Value }
    # The port rules' fixed names are meant as they read.
    $text = if (-not $r.Path) { [WildcardPattern]::Unescape($given) } elseif ($parameter -eq 'Program') { $r.Path } else { $r.Name }
    try {
      $pattern = [WildcardPattern]::new($given, [WildcardOptions]::IgnoreCase)
      $exact = -not [WildcardPattern]::ContainsWildcardCharacters($given) -and $pattern.IsMatch($text) -and
               ((LookAlike $text) -ceq $text -or -not $pattern.IsMatch((LookAlike $text)))
    } catch { $exact = $false }
    if (-not $exact) { Fail "$($r.Label): -$parameter '$given' does not select exactly '$text'" }
  }
}

# Starts one script as powershell.exe would, with the stand-in holding these
# rules in a file of its own. ConstrainedLanguage is set for the session
# before the script, as application control sets it; the stand-in, imported
# from there, runs constrained too, where 5.1 under a lockdown policy would
# run the signed system module in full language.
function Start-Script([string]$script, [object[]]$rules, [bool]$constrained, [string]$failing, [string]$state) {
  ConvertTo-Json -InputObject @($rules) | Set-Content -LiteralPath $state
  $start = [Diagnostics.ProcessStartInfo]::new($Pwsh)
  $arguments = if ($constrained) {
    '-NoProfile', '-NonInteractive', '-Command',
    '$s = $env:ULVEX_SCRIPT; $ExecutionContext.SessionState.LanguageMode = ''ConstrainedLanguage''; Invoke-Expression $s'
  } else { '-NoProfile', '-NonInteractive', '-ExecutionPolicy', 'Bypass', '-Command', $script }
  $arguments | ForEach-Object { $start.ArgumentList.Add($_) }
  $start.Environment['ULVEX_SCRIPT'] = $script
  $start.Environment['STANDIN_RULES'] = $state
  $start.Environment['STANDIN_FAIL'] = $failing
  $start.RedirectStandardOutput = $start.RedirectStandardError = $true
  [Diagnostics.Process]::Start($start)
}
function Rule($name, $displayName, $program, $action) {
  [pscustomobject]@{ Name = $name; DisplayName = $displayName; Program = $program; Action = $action }
}

# Every script runs on rules seeded from its path and name (a blocking rule
# with the path in other letter case, a decoy a pattern look-up would take,
# another program's rules) and must leave exactly the rules listed. One row
# also runs with nothing to remove, and with the stand-in failing; a plain
# and a pattern path with one look-up failing, where no rule may be made.
$cases = foreach ($r in $records) {
  $P = $r.Path; $N = $r.Name
  $seeds = @((Rule block 'Blocked by someone' $P.ToUpperInvariant() Block), (Rule allow 'Allowed by someone' $P Allow),
             (Rule older $N 'C:\Other\older.exe' Allow), (Rule decoy (Decoy $N) (Decoy $P) Block),
             (Rule other 'Other program' 'C:\Other\x.exe' Block))
  $main = switch ($r.Task) {
    'firewall-app' { @{ Record = $r; Seeds = $seeds; Left = 'allow', 'decoy', 'other', 'new' } }
    'firewall-app-remove' { @{ Record = $r; Seeds = @($seeds[1..4]) + (Rule mine $N.ToUpperInvariant() $P.ToUpperInvariant() Allow)
                               Left = 'allow', 'decoy', 'older', 'other' } }
    'firewall-remove' { @{ Record = $r; Left = 'decoy', 'other'
                           Seeds = (Rule new 'Ulvex Eyetracking (UDP 47900)' Any Allow), (Rule old 'ulvex eyetracking (udp 9000)' Any Allow),
                                   (Rule decoy 'Ulvex Eyetracking (UDP 4790)' Any Allow), (Rule other 'Other program' Any Allow) } }
  }
  $main
  # A path that differs from ours only by a soft hyphen names another program.
  if ($r.Row -eq 'row11' -and $r.Task -ne 'firewall-remove') {
    $shy = Rule shy $(if ($r.Task -eq 'firewall-app') { 'Blocked by someone' } else { $N }) $P.Insert(3, [string][char]0xAD) Block
    @{ Record = $r; Seeds = @($main.Seeds) + $shy; Left = @($main.Left) + 'shy'; Note = ' (soft hyphen)' }
  }
  if ($r.Row -in 'row11', 'port') {
    @{ Record = $r; Seeds = @(); Left = @(if ($r.Task -eq 'firewall-app') { 'new' }); Note = ' (nothing to remove)' }
    @{ Record = $r; Seeds = $seeds; Failing = '*'; Note = ' (stand-in failing)' }
  }
  if ($r.Task -eq 'firewall-app' -and $r.Row -in 'row3', 'row11') {
    @{ Record = $r; Seeds = $seeds; Failing = 'Get-NetFirewallApplicationFilter.*'; Note = ' (filter look-up failing)' }
    @{ Record = $r; Seeds = $seeds; Failing = 'Get-NetFirewallRule.ByDisplayName'; Note = ' (name look-up failing)' }
  }
}
$module = Join-Path $PSHOME 'Modules/NetSecurity'
Remove-Item -Recurse -Force -LiteralPath $module -ErrorAction SilentlyContinue
Copy-Item -Recurse -LiteralPath $StandIn -Destination $module
$runs = foreach ($case in $cases) { foreach ($constrained in $false, $true) { @{ Case = $case; Constrained = $constrained } } }
try {
  # Two at a time: a start of PowerShell is most of the cost.
  for ($i = 0; $i -lt $runs.Count; $i += 2) {
    $batch = @($runs[$i..([Math]::Min($i + 1, $runs.Count - 1))])
    foreach ($run in $batch) {
      $run.State = Join-Path ([IO.Path]::GetTempPath()) "ulvex-standin-$PID-$($batch.IndexOf($run)).json"
      $run.Process = Start-Script $run.Case.Record.Script $run.Case.Seeds $run.Constrained $run.Case.Failing $run.State
    }
    foreach ($run in $batch) {
      $case = $run.Case; $r = $case.Record
      $output = $run.Process.StandardError.ReadToEnd() + $run.Process.StandardOutput.ReadToEnd()
      $run.Process.WaitForExit()
      $code = $run.Process.ExitCode
      $rules = @(Get-Content -Raw -LiteralPath $run.State | ConvertFrom-Json)
      $label = "$($r.Label)$(if ($run.Constrained) { ' (constrained)' })$($case.Note)"
      $new = @($rules | Where-Object { $_.Name -notin $case.Seeds.Name })
      if ($case.Failing) {
        if ($code -eq 0 -or $new) { Fail "${label}: exit code $code and $($new.Count) new rules although the firewall failed" }
        continue
      }
      if ($code -ne 0) { Fail "${label}: exit code ${code}: $output"; continue }
      $left = @($rules | ForEach-Object { if ($_ -in $new) { 'new' } else { $_.Name } } | Sort-Object)
      if (($left -join ',') -cne (@($case.Left | Sort-Object) -join ',')) { Fail "${label}: left $($left -join ', ')" }
      $wrong = $new | Where-Object { $_.DisplayName -cne $r.Name -or $_.Program -cne $r.Path -or $_.Action -ne 'Allow' -or
                                     $_.Direction -ne 'Inbound' -or $_.Profile -ne 'Any' -or $_.Enabled -ne 'True' }
      if ($wrong) { Fail "${label}: made $($wrong | ConvertTo-Json -Compress)" }
    }
  }
} finally {
  Remove-Item -Recurse -Force -LiteralPath $module -ErrorAction SilentlyContinue
  Remove-Item -Force -Path (Join-Path ([IO.Path]::GetTempPath()) "ulvex-standin-$PID-*.json") -ErrorAction SilentlyContinue
}
Write-Host "$($records.Count) recorded scripts parsed, $($runs.Count) runs, $($script:failures) failures"
if ($script:failures) { exit 1 }
