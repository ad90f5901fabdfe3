# Runs every task of UlvexSystemSetup.exe on a disposable Windows machine,
# against the real netsh and PowerShell, and checks each effect with the
# platform's own cmdlets: first the install tasks, then the uninstall tasks,
# which make the OpenXR runtime that was active before the install active
# again. A relative manifest path must be refused with nothing written. It
# changes the machine's firewall and registry, and puts back what it recorded
# and removes what it made, on every path.
#   powershell -File acceptance.ps1 -DisposableMachine -Exe <UlvexSystemSetup.exe>
# Windows PowerShell 5.1, no extra modules. Exits 1 naming each failed check.
param([switch]$DisposableMachine, [Parameter(Mandatory = $true)][string]$Exe)
$ErrorActionPreference = 'Stop'   # an unexpected error ends the run, after the clean-up

if (-not $DisposableMachine) {
    Write-Host 'acceptance: this changes the firewall and the registry; run it only on a disposable machine, with -DisposableMachine'
    exit 2
}
$principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
    Write-Host 'acceptance: run it elevated'
    exit 2
}

$Exe = (Resolve-Path -LiteralPath $Exe).Path
$portRule = 'Ulvex Eyetracking (UDP 47900)'
$oldPortRule = 'Ulvex Eyetracking (UDP 9000)'
$blockRule = 'Ulvex acceptance block'
# An apostrophe for the quoting, brackets and a backtick for the wildcard
# escaping (single quotes keep the backtick). The decoys are what the rule
# name matches as a pattern with both, the brackets, or the backtick left
# unescaped.
$appName = 'O''Brien [x64] `v2 Tool'
$appRule = "ULVEX $appName"
$decoyRules = 'ULVEX O''Brien x v2 Tool', 'ULVEX O''Brien x `v2 Tool', 'ULVEX O''Brien [x64] v2 Tool'
# Blocks a program whose path the program's path matches as an unescaped
# pattern: it is someone else's rule and stays.
$lookAlikeBlockRule = 'Ulvex acceptance block look-alike'
$ruleNames = @($portRule, $oldPortRule, $blockRule, $lookAlikeBlockRule, $appRule) + $decoyRules
$anyProfile = 'Any', 'Domain, Private, Public'   # how profile=any may read back
$runKey = 'HKLM:\Software\Microsoft\Windows\CurrentVersion\Run'
$openXrKeys = 'HKLM:\SOFTWARE\Khronos', 'HKLM:\SOFTWARE\Khronos\OpenXR', 'HKLM:\SOFTWARE\Khronos\OpenXR\1'
# The last one and its runtime list for .NET, which takes value names
# literally (one holds brackets) and keeps a value's kind.
$xrKey = 'SOFTWARE\Khronos\OpenXR\1'
$listKey = "$xrKey\AvailableRuntimes"
# Paths with brackets go only to .NET and -LiteralPath, which take no wildcards.
$id = [guid]::NewGuid()
$folder = [IO.Path]::Combine($env:TEMP, "ulvex acceptance [x64] $id")
$program = [IO.Path]::Combine($folder, "$appName.exe")
$lookAlike = [IO.Path]::Combine($env:TEMP, "ulvex acceptance x $id", "O'Brien x v2 Tool.exe")
$otherProgram = "$env:SystemRoot\System32\hostname.exe"
$results = [IO.Path]::Combine($folder, 'results.txt')
# Outside the results folder: what links at the results path point to, and a
# junction to the folder itself.
$outside = [IO.Path]::Combine($env:TEMP, "ulvex outside $id")
$sentinel = [IO.Path]::Combine($outside, 'sentinel.txt')
$hop = [IO.Path]::Combine($env:TEMP, "ulvex hop $id")
# Look-alikes of the firewall cmdlets the program's scripts call; each one
# that runs appends its name to the marker.
$plant = [IO.Path]::Combine($env:TEMP, "ulvex plant $id")
$marker = [IO.Path]::Combine($plant, 'planted.txt')
$plantedCommands = 'Get-NetFirewallRule', 'Get-NetFirewallApplicationFilter', 'Remove-NetFirewallRule', 'New-NetFirewallRule'
$manifest = 'C:\Ulvex Acceptance\runtime.json'
# The runtime active before the install, which the uninstall makes active
# again: it must exist. Another one, made active meanwhile, stays.
$previous = [IO.Path]::Combine($folder, 'previous.json')
$otherRuntime = 'C:\Ulvex Acceptance\other.json'
# Each names a different file for each caller's folder or drive.
$relativeManifests = 'runtime.json', '..\r.json', 'C:r.json', '\r.json'
$listNames = @($manifest, $previous, $otherRuntime) + $relativeManifests
$failures = New-Object System.Collections.Generic.List[string]
function Check([bool]$ok, [string]$what) { if (-not $ok) { $failures.Add($what) } }

# -DisplayName takes a wildcard pattern and our names hold brackets. An exact
# comparison keeps these look-ups independent of the escaping the program
# relies on. Callers count with @(), since a function's output is unrolled.
function Get-Rules([string]$displayName) { Get-NetFirewallRule -All | Where-Object { $_.DisplayName -ceq $displayName } }
function Test-ForProgram($rule) { ($rule | Get-NetFirewallApplicationFilter).Program -eq $program }
# Every rule this run touches is named "Ulvex..." in some letter case; rules
# that Windows adds or drops meanwhile are its own business.
function Get-UlvexRules { Get-NetFirewallRule -All | Where-Object { $_.DisplayName -like 'Ulvex*' } }

# Runs the program with the look-alike commands first on PATH, which its
# PowerShell inherits. It must exit 0, print an ok line for each task in
# order, and leave every look-alike unrun. Given a code, every task must
# fail with it instead, each setting its bit of the exit code.
function Invoke-Ok([string]$what, [string[]]$tasks, [string[]]$arguments, [int]$code = 0) {
    $savedPath = $env:PATH
    $env:PATH = "$plant;$savedPath"
    try { $out = @(& $Exe @arguments) } finally { $env:PATH = $savedPath }
    $exit = if ($code -eq 0) { 0 } else { (1 -shl $tasks.Count) - 1 }
    Check ($LASTEXITCODE -eq $exit) "$what exits $exit (was $LASTEXITCODE)"
    $expected = $tasks | ForEach-Object { "task=$_ ok=$([int]($code -eq 0)) code=$code" }
    Check (($out -join "`n") -ceq ($expected -join "`n")) "$what prints its line per task (were: $($out -join ' | '))"
    if (Test-Path -LiteralPath $marker) {
        $failures.Add("$what ran commands planted on PATH: $((Get-Content -LiteralPath $marker) -join ', ')")
        Remove-Item -LiteralPath $marker
    }
}

# As an older version made it: through netsh, the argument string passed as it stands.
function Add-OldPortRule {
    $netsh = Start-Process -FilePath "$env:SystemRoot\System32\netsh.exe" -Wait -PassThru -NoNewWindow -ArgumentList `
        "advfirewall firewall add rule name=`"$oldPortRule`" dir=in action=allow protocol=UDP localport=9000"
    Check ($netsh.ExitCode -eq 0 -and @(Get-Rules $oldPortRule).Count -eq 1) 'seeding the old UDP 9000 rule'
}

# A value's kind and data as stored, or nothing where the key or the value is
# absent. Shown in a string, it reads "<kind> <data>".
function Get-RegistryValue([string]$key, [string]$name) {
    $k = [Microsoft.Win32.Registry]::LocalMachine.OpenSubKey($key)
    if ($null -eq $k) { return }
    if ($k.GetValueNames() -contains $name) { , @($k.GetValueKind($name), $k.GetValue($name, $null, 'DoNotExpandEnvironmentNames')) }
    $k.Dispose()
}

# One step of the clean-up: a failure is reported, fails the run, and does
# not keep the later steps from running.
function Restore([string]$what, [scriptblock]$step) {
    try { & $step } catch {
        Write-Warning "acceptance: $what failed: $_"
        $failures.Add("clean-up: $what failed: $_")
    }
}

# Firewall rules cannot be put back as they were, so none of ours may exist yet.
$existing = @(Get-NetFirewallRule -All | Where-Object { $ruleNames -ccontains $_.DisplayName })
if ($existing.Count -ne 0) { Write-Host "acceptance: a rule named '$($existing[0].DisplayName)' exists already"; exit 2 }
# What it will touch, to put back afterwards.
$savedXrEnv = [Environment]::GetEnvironmentVariable('XR_RUNTIME_JSON', 'Machine')
$savedHub = (Get-ItemProperty -Path $runKey -Name UlvexHub -ErrorAction SilentlyContinue).UlvexHub
$savedRuntime = Get-RegistryValue $xrKey ActiveRuntime
$firstMissingKey = $openXrKeys | Where-Object { -not (Test-Path -LiteralPath $_) } | Select-Object -First 1
$listExisted = Test-Path -LiteralPath "HKLM:\$listKey"
$savedList = @{}   # ignores letter case, as the registry does
foreach ($name in $listNames) { $value = Get-RegistryValue $listKey $name; if ($null -ne $value) { $savedList[$name] = $value } }

try {
    # What an older version and the person's machine leave behind.
    [IO.Directory]::CreateDirectory($folder) | Out-Null
    [IO.File]::Copy($otherProgram, $program)
    [IO.File]::WriteAllText($previous, '{}')
    [Microsoft.Win32.Registry]::SetValue("HKEY_LOCAL_MACHINE\$xrKey", 'ActiveRuntime', $previous)
    Add-OldPortRule
    New-NetFirewallRule -DisplayName $blockRule -Direction Inbound -Action Block -Program $program | Out-Null
    New-NetFirewallRule -DisplayName $lookAlikeBlockRule -Direction Inbound -Action Block -Program $lookAlike | Out-Null
    New-NetFirewallRule -DisplayName $appRule -Direction Inbound -Action Allow -Program $otherProgram | Out-Null
    foreach ($decoy in $decoyRules) {
        New-NetFirewallRule -DisplayName $decoy -Direction Inbound -Action Allow -Program $program | Out-Null
    }
    [Environment]::SetEnvironmentVariable('XR_RUNTIME_JSON', 'C:\Ulvex Acceptance\override.json', 'Machine')
    New-ItemProperty -Path $runKey -Name UlvexHub -Value 'C:\Ulvex Acceptance\UlvexHub.exe' -PropertyType String -Force | Out-Null
    [IO.Directory]::CreateDirectory($plant) | Out-Null
    foreach ($command in $plantedCommands) {
        [IO.File]::WriteAllText([IO.Path]::Combine($plant, "$command.cmd"), "@echo %~n0>> `"$marker`"`r`n", [Text.Encoding]::ASCII)
    }

    $tasks = 'firewall-add', 'firewall-app', 'openxr-runtime', 'clear-xr-env', 'remove-legacy-autostart'
    Invoke-Ok 'the install run' $tasks @('--result', $results, '--firewall-add', '--firewall-app', $program,
        '--openxr-runtime', $manifest, '--clear-xr-env', '--remove-legacy-autostart')
    $expectedFile = [byte[]](0xEF, 0xBB, 0xBF) + [Text.Encoding]::ASCII.GetBytes((($tasks | ForEach-Object { "$_=ok`r`n" }) -join ''))
    $file = if (Test-Path -LiteralPath $results) { [IO.File]::ReadAllBytes($results) } else { [byte[]]@() }
    Check (($file -join ',') -eq ($expectedFile -join ',')) 'the results file: BOM, CR LF, five =ok lines'

    # A link at the results path is deleted as itself and the file made anew;
    # a junction in the folder path means no results file. Nothing outside the
    # folder may change or appear, not even a dangling link's target.
    [IO.Directory]::CreateDirectory($outside) | Out-Null
    [IO.File]::WriteAllText($sentinel, 'sentinel')
    $oneLine = [byte[]](0xEF, 0xBB, 0xBF) + [Text.Encoding]::ASCII.GetBytes("remove-legacy-autostart=ok`r`n")
    # .NET deletes a link itself, never what it points to.
    function Remove-Results { if ([IO.Directory]::Exists($results)) { [IO.Directory]::Delete($results) } else { [IO.File]::Delete($results) } }
    # Returns what mklink said. Windows PowerShell makes each redirected error
    # line of a native command an error, which 'Stop' would make end the run.
    function New-Link([string]$kind, [string]$at, [string]$target) {
        $ErrorActionPreference = 'Continue'
        $arguments = @('/c', 'mklink') + @(if ($kind -eq 'junction') { '/J' }) + @($at, $target)
        "$(& "$env:SystemRoot\System32\cmd.exe" @arguments 2>&1)"
    }
    foreach ($link in @('symbolic', $sentinel), @('symbolic', [IO.Path]::Combine($outside, 'dangling.txt')), @('junction', $outside)) {
        Remove-Results
        $made = New-Link $link[0] $results $link[1]
        $what = "a run with a $($link[0]) link at the results path to $($link[1])"
        $linked = (Test-Path -LiteralPath $results) -and
                  (([IO.File]::GetAttributes($results) -band [IO.FileAttributes]::ReparsePoint) -ne 0)
        Check $linked "$what (mklink: $made)"
        if (-not $linked) { continue }   # a run with nothing planted would prove nothing
        Invoke-Ok $what @('remove-legacy-autostart') @('--result', $results, '--remove-legacy-autostart')
        Check ([IO.File]::Exists($results) -and ([IO.File]::GetAttributes($results) -band [IO.FileAttributes]::ReparsePoint) -eq 0 -and
               ([IO.File]::ReadAllBytes($results) -join ',') -eq ($oneLine -join ',')) "${what}: a new results file with its line"
        Check ([IO.File]::Exists($sentinel) -and [IO.File]::ReadAllText($sentinel) -ceq 'sentinel' -and
               (@(Get-ChildItem -LiteralPath $outside -Force).Name -join ',') -ceq 'sentinel.txt') "${what}: nothing outside changed"
    }
    Remove-Results
    $made = New-Link 'junction' $hop $folder
    # Without the junction the folder path leads nowhere, and "no results file" would hold anyway.
    $hopMade = [IO.Directory]::Exists($hop)
    Check $hopMade "a junction in the results folder path was made (mklink: $made)"
    if ($hopMade) {
        Invoke-Ok 'a run with a junction in the results folder path' @('remove-legacy-autostart') @(
            '--result', [IO.Path]::Combine($hop, 'results.txt'), '--remove-legacy-autostart')
        Check (-not [IO.File]::Exists($results)) 'a junction in the results folder path: no results file'
    }

    $rules = @(Get-Rules $portRule)
    Check ($rules.Count -eq 1) "exactly one '$portRule' rule (found $($rules.Count))"
    if ($rules.Count -eq 1) {
        $rule = $rules[0]
        $ports = $rule | Get-NetFirewallPortFilter
        Check ("$($rule.Direction)" -eq 'Inbound' -and "$($rule.Action)" -eq 'Allow' -and "$($rule.Enabled)" -eq 'True') 'the port rule is an enabled inbound allow rule'
        Check ($anyProfile -contains "$($rule.Profile)") "the port rule covers every profile (was $($rule.Profile))"
        Check ("$($ports.Protocol)" -eq 'UDP' -and "$($ports.LocalPort)" -eq '47900') "the port rule is UDP 47900 (was $($ports.Protocol) $($ports.LocalPort))"
    }
    Check (@(Get-Rules $oldPortRule).Count -eq 0) "no '$oldPortRule' rule"
    Check (@(Get-Rules $blockRule).Count -eq 0) 'the blocking rule for the program is gone'
    Check (@(Get-Rules $lookAlikeBlockRule).Count -eq 1) 'the blocking rule for the look-alike program is still there'
    $rules = @(Get-Rules $appRule)
    Check ($rules.Count -eq 1) "exactly one '$appRule' rule, the older one for another program gone (found $($rules.Count))"
    if ($rules.Count -eq 1) {
        $rule = $rules[0]
        Check ("$($rule.Direction)" -eq 'Inbound' -and "$($rule.Action)" -eq 'Allow' -and "$($rule.Enabled)" -eq 'True') 'the program rule is an enabled inbound allow rule'
        Check ($anyProfile -contains "$($rule.Profile)") "the program rule covers every profile (was $($rule.Profile))"
        Check (Test-ForProgram $rule) "the program rule is for the program (was $(($rule | Get-NetFirewallApplicationFilter).Program))"
    }
    foreach ($decoy in $decoyRules) { Check (@(Get-Rules $decoy).Count -eq 1) "the rule '$decoy' is still there" }
    $runtime = (Get-ItemProperty -Path $openXrKeys[2] -Name ActiveRuntime -ErrorAction SilentlyContinue).ActiveRuntime
    Check ($runtime -ceq $manifest) "ActiveRuntime is the manifest (was '$runtime')"
    $listed = Get-RegistryValue $listKey $manifest
    Check ("$listed" -ceq 'DWord 0') "the manifest is listed under AvailableRuntimes as REG_DWORD 0 (was '$listed')"
    foreach ($relative in $relativeManifests) {
        Invoke-Ok "--openxr-runtime $relative" @('openxr-runtime') @('--openxr-runtime', $relative) 87
        $runtime = (Get-ItemProperty -Path $openXrKeys[2] -Name ActiveRuntime -ErrorAction SilentlyContinue).ActiveRuntime
        Check ($runtime -ceq $manifest -and $null -eq (Get-RegistryValue $listKey $relative)) (
            "--openxr-runtime $relative writes nothing (ActiveRuntime was '$runtime')")
    }
    Check ($null -eq [Environment]::GetEnvironmentVariable('XR_RUNTIME_JSON', 'Machine')) 'the machine XR_RUNTIME_JSON is gone'
    Check ($null -eq (Get-ItemProperty -Path $runKey -Name UlvexHub -ErrorAction SilentlyContinue)) 'the UlvexHub Run value is gone'

    Invoke-Ok 'a second --firewall-add' @('firewall-add') @('--firewall-add')
    Check (@(Get-Rules $portRule).Count -eq 1) "still exactly one '$portRule' rule after a second --firewall-add"

    # Uninstall. Another runtime's manifest leaves ours in place.
    Invoke-Ok 'removing another runtime' @('openxr-runtime-remove') @('--openxr-runtime-remove', $otherRuntime)
    $runtime = (Get-ItemProperty -Path $openXrKeys[2] -Name ActiveRuntime -ErrorAction SilentlyContinue).ActiveRuntime
    Check ($runtime -ceq $manifest) "ActiveRuntime is still the manifest after removing another runtime (was '$runtime')"
    Check ("$(Get-RegistryValue $listKey $manifest)" -ceq 'DWord 0') 'the manifest is still listed after removing another runtime'
    # The old port rule again, and a rule of the program's name for another program, which must stay.
    Add-OldPortRule
    New-NetFirewallRule -DisplayName $appRule -Direction Inbound -Action Allow -Program $otherProgram | Out-Null
    $before = @(Get-UlvexRules)
    $gone = @($before | Where-Object {
            (@($portRule, $oldPortRule) -ccontains $_.DisplayName) -or ($_.DisplayName -ceq $appRule -and (Test-ForProgram $_))
        } | ForEach-Object { $_.Name })
    Check ($gone.Count -eq 3) "before the uninstall run: the two port rules and the program's rule (found $($gone.Count))"
    $uninstallTasks = 'firewall-remove', 'firewall-app-remove', 'openxr-runtime-remove', 'openxr-runtime-restore'
    $uninstall = @('--firewall-remove', '--firewall-app-remove', $program, '--openxr-runtime-remove', $manifest.ToUpperInvariant(),
        '--openxr-runtime-restore', $previous)
    Invoke-Ok 'the uninstall run' $uninstallTasks $uninstall
    $after = @(Get-UlvexRules)
    $beforeNames = @($before | ForEach-Object { $_.Name })
    $afterNames = @($after | ForEach-Object { $_.Name })
    $left = @($after | Where-Object { $gone -contains $_.Name } | ForEach-Object { $_.DisplayName })
    Check ($left.Count -eq 0) "the two port rules and the program's rule are gone (left: $($left -join ', '))"
    $lost = @($before | Where-Object { $gone -notcontains $_.Name -and $afterNames -notcontains $_.Name } | ForEach-Object { $_.DisplayName })
    $added = @($after | Where-Object { $beforeNames -notcontains $_.Name } | ForEach-Object { $_.DisplayName })
    Check ($lost.Count -eq 0 -and $added.Count -eq 0) ("every other Ulvex rule stays, the decoys, the look-alike's and the " +
        "other program's rule among them (lost: $($lost -join ', '); added: $($added -join ', '))")
    $runtime = Get-RegistryValue $xrKey ActiveRuntime
    Check ("$runtime" -ceq "String $previous") "our ActiveRuntime is gone (named in other letter case) and the previous one active again (was '$runtime')"
    Check ($null -eq (Get-RegistryValue $listKey $manifest)) 'the manifest is no longer listed under AvailableRuntimes'
    Check ($null -eq (Get-RegistryValue $listKey $previous)) 'making the previous runtime active again does not list it'
    [Microsoft.Win32.Registry]::SetValue("HKEY_LOCAL_MACHINE\$xrKey", 'ActiveRuntime', $otherRuntime, 'ExpandString')
    Invoke-Ok 'a second uninstall run' $uninstallTasks $uninstall
    $runtime = Get-RegistryValue $xrKey ActiveRuntime
    Check ("$runtime" -ceq "ExpandString $otherRuntime") "a second uninstall run leaves another active runtime alone (was '$runtime')"
}
catch {
    # Named with the failed checks, after the clean-up.
    $failures.Add("stopped by an unexpected error: $_ $($_.InvocationInfo.PositionMessage)")
}
finally {
    Restore 'removing the rules it made' {
        @(Get-NetFirewallRule -All | Where-Object { $ruleNames -ccontains $_.DisplayName }) | Remove-NetFirewallRule
    }
    Restore 'restoring the machine XR_RUNTIME_JSON' {   # set to $null, PowerShell 7 leaves it empty
        if ($null -ne $savedXrEnv) {
            [Environment]::SetEnvironmentVariable('XR_RUNTIME_JSON', $savedXrEnv, 'Machine')
        } elseif ($null -ne [Environment]::GetEnvironmentVariable('XR_RUNTIME_JSON', 'Machine')) {
            Remove-ItemProperty -Path 'HKLM:\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' -Name XR_RUNTIME_JSON
        }
    }
    Restore 'restoring the UlvexHub Run value' {
        if ($null -ne $savedHub) {
            New-ItemProperty -Path $runKey -Name UlvexHub -Value $savedHub -PropertyType String -Force | Out-Null
        } else {
            Remove-ItemProperty -Path $runKey -Name UlvexHub -ErrorAction SilentlyContinue
        }
    }
    Restore 'restoring the OpenXR runtime' {
        if ($null -ne $firstMissingKey) {
            Remove-Item -LiteralPath $firstMissingKey -Recurse -ErrorAction SilentlyContinue
        } elseif ($null -ne $savedRuntime) {
            [Microsoft.Win32.Registry]::SetValue("HKEY_LOCAL_MACHINE\$xrKey", 'ActiveRuntime', $savedRuntime[1], $savedRuntime[0])
        } else {
            Remove-ItemProperty -Path $openXrKeys[2] -Name ActiveRuntime -ErrorAction SilentlyContinue
        }
    }
    Restore 'restoring the OpenXR runtime list' {   # in a tree it made, gone with it above
        if ($null -eq $firstMissingKey -and -not $listExisted) {
            [Microsoft.Win32.Registry]::LocalMachine.DeleteSubKeyTree($listKey, $false)
        } elseif ($null -eq $firstMissingKey) {
            $list = [Microsoft.Win32.Registry]::LocalMachine.OpenSubKey($listKey, $true)
            foreach ($name in $listNames) {
                if (-not $savedList.Contains($name)) { $list.DeleteValue($name, $false) }
                else { $list.SetValue($name, $savedList[$name][1], $savedList[$name][0]) }   # of its kind
            }
            $list.Dispose()
        }
    }
    Restore 'deleting the junction' { if ([IO.Directory]::Exists($hop)) { [IO.Directory]::Delete($hop) } }
    foreach ($dir in $folder, $plant, $outside) {
        Restore "deleting $dir" { if ([IO.Directory]::Exists($dir)) { [IO.Directory]::Delete($dir, $true) } }
    }
}

if ($failures.Count -gt 0) {
    $failures | ForEach-Object { Write-Host "FAILED: $_" }
    exit 1
}
Write-Host 'acceptance: all checks passed'
exit 0
