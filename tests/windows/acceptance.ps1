# Runs all five tasks of UlvexSystemSetup.exe on a disposable Windows machine,
# against the real netsh and PowerShell, and checks each effect with the
# platform's own cmdlets. It changes the machine's firewall and registry, and
# puts back what it recorded and removes what it made, on every path.
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
$appName = "O'Brien Tool"   # a space and an apostrophe
$appRule = "ULVEX $appName"
$runKey = 'HKLM:\Software\Microsoft\Windows\CurrentVersion\Run'
$openXrKeys = 'HKLM:\SOFTWARE\Khronos', 'HKLM:\SOFTWARE\Khronos\OpenXR', 'HKLM:\SOFTWARE\Khronos\OpenXR\1'
$folder = Join-Path $env:TEMP ('ulvex acceptance ' + [guid]::NewGuid())
$program = Join-Path $folder "$appName.exe"
$results = Join-Path $folder 'results.txt'
$manifest = 'C:\Ulvex Acceptance\runtime.json'
$failures = New-Object System.Collections.Generic.List[string]
function Check([bool]$ok, [string]$what) { if (-not $ok) { $failures.Add($what) } }

# A missing rule is an error unless silenced; -DisplayName takes wildcards, and
# none of these names holds one. Callers count with @(), since a function's
# output is unrolled.
function Get-Rules([string]$displayName) { Get-NetFirewallRule -DisplayName $displayName -ErrorAction SilentlyContinue }

# Firewall rules cannot be put back as they were, so none of ours may exist yet.
foreach ($name in $portRule, $oldPortRule, $blockRule, $appRule) {
    if (@(Get-Rules $name).Count -ne 0) { Write-Host "acceptance: a rule named '$name' exists already"; exit 2 }
}
# What it will touch, to put back afterwards.
$savedXrEnv = [Environment]::GetEnvironmentVariable('XR_RUNTIME_JSON', 'Machine')
$savedHub = (Get-ItemProperty -Path $runKey -Name UlvexHub -ErrorAction SilentlyContinue).UlvexHub
$savedRuntime = (Get-ItemProperty -Path $openXrKeys[2] -Name ActiveRuntime -ErrorAction SilentlyContinue).ActiveRuntime
$firstMissingKey = $openXrKeys | Where-Object { -not (Test-Path -LiteralPath $_) } | Select-Object -First 1

try {
    # What an older version and the person's machine leave behind.
    New-Item -ItemType Directory -Path $folder | Out-Null
    Copy-Item -LiteralPath "$env:SystemRoot\System32\hostname.exe" -Destination $program
    # As the older version made it: through netsh, the argument string passed as it stands.
    $netsh = Start-Process -FilePath "$env:SystemRoot\System32\netsh.exe" -Wait -PassThru -NoNewWindow -ArgumentList `
        "advfirewall firewall add rule name=`"$oldPortRule`" dir=in action=allow protocol=UDP localport=9000"
    Check ($netsh.ExitCode -eq 0 -and @(Get-Rules $oldPortRule).Count -eq 1) 'seeding the old UDP 9000 rule'
    New-NetFirewallRule -DisplayName $blockRule -Direction Inbound -Action Block -Program $program | Out-Null
    [Environment]::SetEnvironmentVariable('XR_RUNTIME_JSON', 'C:\Ulvex Acceptance\override.json', 'Machine')
    New-ItemProperty -Path $runKey -Name UlvexHub -Value 'C:\Ulvex Acceptance\UlvexHub.exe' -PropertyType String -Force | Out-Null

    $out = @(& $Exe --result $results --firewall-add --firewall-app $program --openxr-runtime $manifest --clear-xr-env --remove-legacy-autostart)
    Check ($LASTEXITCODE -eq 0) "exit code 0 (was $LASTEXITCODE)"
    $tasks = 'firewall-add', 'firewall-app', 'openxr-runtime', 'clear-xr-env', 'remove-legacy-autostart'
    $expectedOut = $tasks | ForEach-Object { "task=$_ ok=1 code=0" }
    Check (($out -join "`n") -ceq ($expectedOut -join "`n")) "the five task lines (were: $($out -join ' | '))"
    $expectedFile = [byte[]](0xEF, 0xBB, 0xBF) + [Text.Encoding]::ASCII.GetBytes((($tasks | ForEach-Object { "$_=ok`r`n" }) -join ''))
    $file = if (Test-Path -LiteralPath $results) { [IO.File]::ReadAllBytes($results) } else { [byte[]]@() }
    Check (($file -join ',') -eq ($expectedFile -join ',')) 'the results file: BOM, CR LF, five =ok lines'

    $rules = @(Get-Rules $portRule)
    Check ($rules.Count -eq 1) "exactly one '$portRule' rule (found $($rules.Count))"
    if ($rules.Count -eq 1) {
        $rule = $rules[0]
        $ports = $rule | Get-NetFirewallPortFilter
        Check ("$($rule.Direction)" -eq 'Inbound' -and "$($rule.Action)" -eq 'Allow' -and "$($rule.Enabled)" -eq 'True') 'the port rule is an enabled inbound allow rule'
        Check ("$($rule.Profile)" -eq 'Any') "the port rule covers every profile (was $($rule.Profile))"
        Check ("$($ports.Protocol)" -eq 'UDP' -and "$($ports.LocalPort)" -eq '47900') "the port rule is UDP 47900 (was $($ports.Protocol) $($ports.LocalPort))"
    }
    Check (@(Get-Rules $oldPortRule).Count -eq 0) "no '$oldPortRule' rule"
    Check (@(Get-Rules $blockRule).Count -eq 0) 'the blocking rule for the program is gone'
    $rules = @(Get-Rules $appRule)
    Check ($rules.Count -eq 1) "exactly one '$appRule' rule (found $($rules.Count))"
    if ($rules.Count -eq 1) {
        $rule = $rules[0]
        Check ("$($rule.Direction)" -eq 'Inbound' -and "$($rule.Action)" -eq 'Allow' -and "$($rule.Enabled)" -eq 'True') 'the program rule is an enabled inbound allow rule'
        Check (($rule | Get-NetFirewallApplicationFilter).Program -eq $program) 'the program rule is for the program'
    }
    $runtime = (Get-ItemProperty -Path $openXrKeys[2] -Name ActiveRuntime -ErrorAction SilentlyContinue).ActiveRuntime
    Check ($runtime -ceq $manifest) "ActiveRuntime is the manifest (was '$runtime')"
    Check ($null -eq [Environment]::GetEnvironmentVariable('XR_RUNTIME_JSON', 'Machine')) 'the machine XR_RUNTIME_JSON is gone'
    Check ($null -eq (Get-ItemProperty -Path $runKey -Name UlvexHub -ErrorAction SilentlyContinue)) 'the UlvexHub Run value is gone'

    $out = @(& $Exe --firewall-add)
    Check ($LASTEXITCODE -eq 0) "a second --firewall-add exits 0 (was $LASTEXITCODE)"
    Check (@(Get-Rules $portRule).Count -eq 1) "still exactly one '$portRule' rule after a second --firewall-add"
}
finally {
    foreach ($name in $portRule, $oldPortRule, $blockRule, $appRule) { Get-Rules $name | Remove-NetFirewallRule }
    [Environment]::SetEnvironmentVariable('XR_RUNTIME_JSON', $savedXrEnv, 'Machine')
    if ($null -ne $savedHub) {
        New-ItemProperty -Path $runKey -Name UlvexHub -Value $savedHub -PropertyType String -Force | Out-Null
    } else {
        Remove-ItemProperty -Path $runKey -Name UlvexHub -ErrorAction SilentlyContinue
    }
    if ($null -ne $firstMissingKey) {
        Remove-Item -LiteralPath $firstMissingKey -Recurse -ErrorAction SilentlyContinue
    } elseif ($null -ne $savedRuntime) {
        Set-ItemProperty -Path $openXrKeys[2] -Name ActiveRuntime -Value $savedRuntime
    } else {
        Remove-ItemProperty -Path $openXrKeys[2] -Name ActiveRuntime -ErrorAction SilentlyContinue
    }
    Remove-Item -LiteralPath $folder -Recurse -Force -ErrorAction SilentlyContinue
}

if ($failures.Count -gt 0) {
    $failures | ForEach-Object { Write-Host "FAILED: $_" }
    exit 1
}
Write-Host 'acceptance: all checks passed'
exit 0
