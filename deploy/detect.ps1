# Intune Remediations, detection script: runs the installed profile-sync with
# --check and reports its outcome. Settings: "Run this script using the
# logged-on credentials" Yes (the program works on the signed-in user's own
# profile; as SYSTEM it refuses, 30), "Run script in 64-bit PowerShell" Yes,
# "Enforce script signature check" No, unless you sign it. Windows PowerShell
# 5.1; it calls no .NET method, so it runs in Constrained Language mode too.
# Prints "<exit code> <the program's record line>" for the output column;
# exits 0 (without issues) for 0, 10, 11 and 40, else 1 (the remediation runs).
# The 64-bit Program Files, also from a 32-bit host, where install.cmd puts it.
$programs = if ($env:ProgramW6432) { $env:ProgramW6432 } else { $env:ProgramFiles }
$exe = "$programs\Tessavo\profile-sync.exe"
if (-not (Test-Path -LiteralPath $exe -PathType Leaf)) { Write-Output "profile-sync is not installed: $exe"; exit 1 }
$out = (New-TemporaryFile).FullName
# A GUI program: without -Wait nothing waits for it. Redirected, it prints its
# record line at every run.
# A start refused (app control, a missing DLL) throws: caught, it reads as one.
$p = $null
try {
    $p = Start-Process -FilePath $exe -ArgumentList '--check' -Wait -PassThru -WindowStyle Hidden `
        -RedirectStandardOutput $out -ErrorAction Stop
} catch { }
$line = Get-Content -LiteralPath $out -Encoding UTF8 -ErrorAction SilentlyContinue | Select-Object -Last 1
Remove-Item -LiteralPath $out -ErrorAction SilentlyContinue
if (-not $p) { Write-Output "profile-sync could not be started: $($Error[0])"; exit 1 }
Write-Output "$($p.ExitCode) $line"
if ($p.ExitCode -in 0, 10, 11, 40) { exit 0 }
exit 1
