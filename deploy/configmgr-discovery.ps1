# Configuration Manager, discovery script of a configuration item's setting
# (data type String; compliance rule: the value equals "Compliant"). Runs the
# installed profile-sync with --check as the logged-on user: a user-context
# item, with "Run scripts by using the logged on user credentials" ticked (as
# SYSTEM the program refuses, 30). The client setting Computer Agent >
# PowerShell execution policy must be Bypass, or the script signed.
# remediate.ps1 serves as the item's remediation script.
# Writes "Compliant" for 0, 10, 11 and 40, else "NonCompliant <code> <record
# line>", and always exits 0: Configuration Manager counts a discovery script
# that exits otherwise as failed, and remediates nothing.
# The 64-bit Program Files, also from a 32-bit host, where install.cmd puts it.
$programs = if ($env:ProgramW6432) { $env:ProgramW6432 } else { $env:ProgramFiles }
$exe = "$programs\Tessavo\profile-sync.exe"
if (-not (Test-Path -LiteralPath $exe -PathType Leaf)) { Write-Output "NonCompliant profile-sync is not installed: $exe"; exit 0 }
$out = (New-TemporaryFile).FullName
# A start refused (app control, a missing DLL) throws: caught, it reads as one.
$p = $null
try {
    $p = Start-Process -FilePath $exe -ArgumentList '--check' -Wait -PassThru -WindowStyle Hidden `
        -RedirectStandardOutput $out -ErrorAction Stop
} catch { }
$line = Get-Content -LiteralPath $out -Encoding UTF8 -ErrorAction SilentlyContinue | Select-Object -Last 1
Remove-Item -LiteralPath $out -ErrorAction SilentlyContinue
if (-not $p) { Write-Output "NonCompliant profile-sync could not be started: $($Error[0])"; exit 0 }
if ($p.ExitCode -in 0, 10, 11, 40) { Write-Output 'Compliant' } else { Write-Output "NonCompliant $($p.ExitCode) $line" }
exit 0
