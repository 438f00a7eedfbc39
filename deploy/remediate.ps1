# Intune Remediations, remediation script: runs the installed profile-sync
# (no arguments: the masters come from policy), which writes the profile
# where it must. Settings as for detect.ps1: the logged-on user's
# credentials, the 64-bit PowerShell host, Windows PowerShell 5.1, no .NET
# calls. Prints "<exit code> <the program's record line>"; exits 0 for 0, 10,
# 11 and 40, else 1.
# The 64-bit Program Files, also from a 32-bit host, where install.cmd puts it.
$programs = if ($env:ProgramW6432) { $env:ProgramW6432 } else { $env:ProgramFiles }
$exe = "$programs\Tessavo\profile-sync.exe"
if (-not (Test-Path -LiteralPath $exe -PathType Leaf)) { Write-Output "profile-sync is not installed: $exe"; exit 1 }
$out = (New-TemporaryFile).FullName
# A start refused (app control, a missing DLL) throws: caught, it reads as one.
$p = $null
try {
    $p = Start-Process -FilePath $exe -Wait -PassThru -WindowStyle Hidden `
        -RedirectStandardOutput $out -ErrorAction Stop
} catch { }
$line = Get-Content -LiteralPath $out -Encoding UTF8 -ErrorAction SilentlyContinue | Select-Object -Last 1
Remove-Item -LiteralPath $out -ErrorAction SilentlyContinue
if (-not $p) { Write-Output "profile-sync could not be started: $($Error[0])"; exit 1 }
Write-Output "$($p.ExitCode) $line"
if ($p.ExitCode -in 0, 10, 11, 40) { exit 0 }
exit 1
