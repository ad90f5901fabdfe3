# PowerShell's parser reads the scripts the program gave powershell.exe, as the
# end-to-end suite saved them (bin/powershell-scripts), for what only a reading
# shows. Then the program itself runs each of those tasks with its path, in the
# suite's PowerShell prefix (scripts/wine-prefix.sh): there powershell.exe is
# PowerShell 7 for Windows, whose command line, parser, quoting, wildcards and
# error records are those Windows PowerShell 5.1 runs the scripts with, and
# the firewall module is a stand-in keeping its rules in a file. Each run must
# give the right task line and exit code and leave exactly the right rules,
# once as it is and once in ConstrainedLanguage mode.
using namespace System.Management.Automation.Language
param([string]$Recorded, [string]$Acceptance, [string]$Prefix, [string]$Wine, [string]$Program)
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

# Under Wine PowerShell finds no command on PATH by its name, so that the
# scripts run nothing else only the reading shows.
$allowed = 'Import-Module', 'Get-NetFirewallApplicationFilter', 'Get-NetFirewallRule',
           'Remove-NetFirewallRule', 'New-NetFirewallRule', 'Where-Object', 'ForEach-Object', 'Out-Null'
foreach ($r in $records) {
  $ast = Read-Script $r.Label $r.Script
  if ($ast) {
    $ast.FindAll({ param($a) $a -is [CommandAst] }, $true) | Where-Object { $_.GetCommandName() -cnotin $allowed } |
      ForEach-Object { Fail "$($r.Label): runs $($_.Extent.Text)" }
  }
}

# Where this side finds a path of the prefix's drive C:, .. folded as Windows does.
function Unix([string]$path) { [IO.Path]::GetFullPath("$Prefix/drive_c/" + $path.Substring(3).Replace('\', '/')) }

# Starts the program on one task, the stand-in's rules in a file of its own.
function Start-Run($run, [int]$slot) {
  $case = $run.Case
  $run.State = "C:\ulvex-rows\rules-$slot.json"
  ConvertTo-Json -InputObject @($case.Seeds) | Set-Content -LiteralPath (Unix $run.State)
  $start = [Diagnostics.ProcessStartInfo]::new($Wine)
  @($Program, "--$($case.Record.Task)") + @($case.Record.Path | Where-Object { $_ }) | ForEach-Object { $start.ArgumentList.Add($_) }
  $start.Environment['STANDIN_RULES'] = $run.State
  $start.Environment['STANDIN_FAIL'] = $case.Failing
  $start.Environment['STANDIN_THROW'] = $case.Throwing
  $start.RedirectStandardOutput = $true
  $run.Process = [Diagnostics.Process]::Start($start)
}
function Rule($name, $displayName, $program, $action) {
  [pscustomobject]@{ Name = $name; DisplayName = $displayName; Program = $program; Action = $action }
}

# Every task runs on rules seeded from its path and name (a blocking rule
# with the path in other letter case, a decoy a pattern look-up would take,
# another program's rules) and must leave exactly the rules listed. One row
# also runs with nothing to remove, and with the stand-in failing; a plain
# and a pattern path with one look-up failing, a removal denied or an error
# thrown, where the task must fail and no rule may be made. So must it for a
# path with a double quote: no Windows path holds one, yet x"\..\ still finds
# the file, and PowerShell's command line would drop the quote.
$quote = [pscustomobject]@{ Label = 'quote.firewall-app'; Row = 'quote'; Task = 'firewall-app'
                            Path = 'C:\ulvex-rows\x"\..\Viewer.exe'; Name = 'ULVEX Viewer' }
$cases = foreach ($r in @($records) + $quote) {
  $P = $r.Path; $N = $r.Name
  $seeds = @((Rule block 'Blocked by someone' $P.ToUpperInvariant() Block), (Rule allow 'Allowed by someone' $P Allow),
             (Rule older $N 'C:\Other\older.exe' Allow), (Rule decoy (Decoy $N) (Decoy $P) Block),
             (Rule other 'Other program' 'C:\Other\x.exe' Block))
  $main = switch ($r.Task) {
    'firewall-app' { @{ Record = $r; Seeds = $seeds; Left = 'allow', 'decoy', 'other', 'new'; Refused = $r -eq $quote } }
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
  if ($r.Row -eq 'row3') {
    @{ Record = $r; Seeds = $main.Seeds; Failing = 'Remove-NetFirewallRule.*'; Note = ' (removal denied)' }
    @{ Record = $r; Seeds = $main.Seeds; Note = ' (error thrown)'
       Throwing = $(if ($r.Task -eq 'firewall-app') { 'New-NetFirewallRule.*' } else { 'Remove-NetFirewallRule.*' }) }
  }
}
# The files the paths name, for firewall-app to find.
foreach ($path in $cases.Record.Path | Where-Object { $_ }) {
  [void][IO.Directory]::CreateDirectory([IO.Path]::GetDirectoryName((Unix $path)))
  if (-not $path.EndsWith('\')) { [IO.File]::WriteAllText((Unix $path), 'MZ') }
}
[void][IO.Directory]::CreateDirectory((Unix 'C:\ulvex-rows'))
# Two at a time: a start of PowerShell is most of the cost. Each round sets
# PowerShell's own stand-in for an application control policy, which it reads
# from the machine's environment at each start: under it the session runs in
# ConstrainedLanguage, and modules in the system folder in full language, as
# signed ones would.
$runs = 0
# A task code that is PowerShell's own crash (fail-fast, access violation,
# stack buffer overrun) is the test host's fault, and never a pass, even
# where the task had to fail.
$crashCodes = 0xC0000602L, 0xC0000005L, 0xC0000409L
$crashes = @()
foreach ($mode in 'FullLanguage', 'ConstrainedLanguage') {
  $policy = if ($mode -eq 'FullLanguage') { 0 } else { 4 }
  & $Wine reg add 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' /v __PSLockdownPolicy /d $policy /f | Out-Null
  $seen = & $Wine 'C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe' -Command '$ExecutionContext.SessionState.LanguageMode'
  if ($seen -notcontains $mode) { Fail "PowerShell runs in $seen, not $mode" }
  for ($i = 0; $i -lt $cases.Count; $i += 2) {
    $batch = @($cases[$i..([Math]::Min($i + 1, $cases.Count - 1))] | ForEach-Object { @{ Case = $_ } })
    foreach ($run in $batch) { Start-Run $run $batch.IndexOf($run) }
    foreach ($run in $batch) {
      $case = $run.Case; $r = $case.Record; $runs++
      $line = @($run.Process.StandardOutput.ReadToEnd() -split '\r?\n' -clike 'task=*') -join ' | '
      $run.Process.WaitForExit()
      $code = $run.Process.ExitCode
      $rules = @(Get-Content -Raw -LiteralPath (Unix $run.State) | ConvertFrom-Json)
      $label = "$($r.Label)$(if ($policy) { ' (constrained)' })$($case.Note)"
      $crash = $crashCodes | Where-Object { $line -match "code=$_`$" }
      if ($crash) { $crashes += '0x{0:X8}' -f $crash; Fail "${label}: PowerShell for Windows crashed, $line"; continue }
      if ($rules.Name -contains 'look-alike ran') { Fail "${label}: the look-alike NetSecurity module first on PSModulePath ran"; continue }
      $new = @($rules | Where-Object { $_.Name -notin $case.Seeds.Name })
      if ($case.Failing -or $case.Throwing -or $case.Refused) {
        if ($code -ne 1 -or $line -notmatch "^task=$($r.Task) ok=0 code=[1-9]" -or $new) {
          Fail "${label}: exit code $code, $line and $($new.Count) new rules where the task had to fail"
        }
        continue
      }
      if ($code -ne 0 -or $line -cne "task=$($r.Task) ok=1 code=0") { Fail "${label}: exit code ${code}, $line"; continue }
      $left = @($rules | ForEach-Object { if ($_ -in $new) { 'new' } else { $_.Name } } | Sort-Object)
      if (($left -join ',') -cne (@($case.Left | Sort-Object) -join ',')) { Fail "${label}: left $($left -join ', ')" }
      $wrong = $new | Where-Object { $_.DisplayName -cne $r.Name -or $_.Program -cne $r.Path -or $_.Action -ne 'Allow' -or
                                     $_.Direction -ne 'Inbound' -or $_.Profile -ne 'Any' -or $_.Enabled -ne 'True' }
      if ($wrong) { Fail "${label}: made $($wrong | ConvertTo-Json -Compress)" }
    }
  }
}
if ($crashes) {
  $codes = ($crashes | Group-Object | ForEach-Object { "$($_.Name) x$($_.Count)" }) -join ', '
  Write-Host "PowerShell for Windows crashed in $($crashes.Count) of $runs runs ($codes): a fault of the test host, not of the program"
}
Write-Host "$($records.Count) recorded scripts parsed, $runs runs of the program, $($script:failures) failures"
if ($script:failures) { exit 1 }
