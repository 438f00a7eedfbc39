@echo off
rem Removes what install.cmd installed: the task \Tessavo\profile-sync, the
rem program "%ProgramFiles%\Tessavo\profile-sync.exe" (and the folder, when
rem nothing else is in it), and the event source profile-sync. Parts already
rem gone are passed over. Run it elevated, as install.cmd:
rem     cmd.exe /d /c uninstall.cmd
rem
rem It leaves each user's own data, which only that user's hive and profile
rem hold: HKCU\Software\Tessavo\profile-sync (the marker and the values kept
rem under Previous), the profile itself under HKCU\Software\Tessavo\Mirandel
rem (the application's values), and the log
rem %LOCALAPPDATA%\Tessavo\profile-sync.log and profile-sync.log.1.
rem
rem Exit codes:
rem   0  removed, or already gone
rem   1  started from a 32-bit process, and the 64-bit cmd.exe could not be
rem      started (%SystemRoot%\Sysnative\cmd.exe)
rem   2  the task could not be deleted (not elevated?); the program is gone
rem   3  the program could not be deleted (a run in progress holds it: try
rem      again in a minute); nothing was removed
rem   4  the event source could not be removed
setlocal EnableExtensions DisableDelayedExpansion

if defined PROFILE_SYNC_RELAUNCHED goto :native
if not defined PROCESSOR_ARCHITEW6432 goto :native
set "PROFILE_SYNC_RELAUNCHED=1"
if not exist "%SystemRoot%\Sysnative\cmd.exe" exit /b 1
"%SystemRoot%\Sysnative\cmd.exe" /d /s /c ""%~f0""
exit /b %ERRORLEVEL%
:native

set "dest=%ProgramFiles%\Tessavo"
set "exe=%ProgramFiles%\Tessavo\profile-sync.exe"

rem First the program, the file an installer's detection rule looks for: held
rem by a run, it stays with everything else, still installed as a whole.
rem profile-sync.exe.new is what an install cut short left.
del /f /q "%exe%" "%exe%.new" 2>nul
if exist "%exe%" goto :program_left

rem A task that was not there is no error; one that /query still lists is.
schtasks /delete /tn "\Tessavo\profile-sync" /f >nul 2>&1
set "task_left="
for /f "delims=" %%L in ('schtasks /query /tn "\Tessavo\profile-sync" 2^>nul') do set "task_left=1"
if defined task_left goto :task_left

rem Without /s: another program of ours may share the folder.
rd "%dest%" 2>nul

set "source=HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\profile-sync"
reg delete "%source%" /f >nul 2>&1
reg query "%source%" >nul 2>&1
if %ERRORLEVEL% EQU 0 goto :source_left

echo uninstall: profile-sync removed from this machine.
echo Each user's own data stays: HKCU\Software\Tessavo\profile-sync (the marker
echo and the values kept under Previous) and %%LOCALAPPDATA%%\Tessavo\profile-sync.log
echo and profile-sync.log.1. To remove the marker, run as that user:
echo     reg delete HKCU\Software\Tessavo\profile-sync /f
echo The profile values under HKCU\Software\Tessavo\Mirandel are the application's and stay.
exit /b 0

:task_left
echo uninstall: the task \Tessavo\profile-sync could not be deleted 1>&2
exit /b 2
:program_left
echo uninstall: %exe% could not be deleted: a run may hold it, try again 1>&2
exit /b 3
:source_left
echo uninstall: the event source profile-sync could not be removed 1>&2
exit /b 4
