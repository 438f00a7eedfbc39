@echo off
rem Installs profile-sync on this machine: copies profile-sync.exe from this
rem script's folder to "%ProgramFiles%\Tessavo\profile-sync.exe", registers
rem the event source profile-sync in the Application log, and creates the
rem task \Tessavo\profile-sync from profile-sync-task.xml, which runs the
rem program as each user at logon, unlock, Remote Desktop connection and
rem connection to the domain network. Run again, it replaces all three (an
rem upgrade).
rem
rem Run it elevated: as SYSTEM (an Intune Win32 app with install behavior
rem System, a Configuration Manager application installed for the system)
rem or from an administrator's command prompt:
rem     cmd.exe /d /c install.cmd
rem Started from a 32-bit process on 64-bit Windows (the Intune Management
rem Extension is one), it starts itself again in the 64-bit cmd.exe, so that
rem the program goes to the 64-bit Program Files.
rem
rem Each release zip is for one architecture: x64 for 64-bit Intel and AMD
rem Windows, arm64 for Windows on ARM, x86 for 32-bit Windows and any other
rem (64-bit Windows, Intel, AMD or ARM, runs it too). The x64 build runs on
rem Windows 11 on ARM, emulated, but not on Windows 10 on ARM: use arm64 there.
rem
rem Exit codes:
rem   0  installed
rem   1  started from a 32-bit process, and the 64-bit cmd.exe could not be
rem      started (%SystemRoot%\Sysnative\cmd.exe)
rem   2  this zip's profile-sync.exe is for another architecture
rem   3  profile-sync.exe or profile-sync-task.xml is not beside this script
rem   4  the folder %ProgramFiles%\Tessavo could not be created (not elevated?)
rem   5  the program could not be copied there, or could not replace the
rem      one there (a run in progress holds it: try again in a minute); the
rem      one there is left as it was
rem   6  the event source could not be registered
rem   7  the task could not be created
rem On 6 and 7 the program is not put in place (an upgrade leaves the old one).
setlocal EnableExtensions DisableDelayedExpansion

if defined PROFILE_SYNC_RELAUNCHED goto :native
if not defined PROCESSOR_ARCHITEW6432 goto :native
set "PROFILE_SYNC_RELAUNCHED=1"
if not exist "%SystemRoot%\Sysnative\cmd.exe" exit /b 1
"%SystemRoot%\Sysnative\cmd.exe" /d /s /c ""%~f0""
exit /b %ERRORLEVEL%
:native

rem The release writes the zip's architecture here; "any" runs everywhere.
set "built_for=any"
if /i "%built_for%"=="x64" if /i not "%PROCESSOR_ARCHITECTURE%"=="AMD64" if /i not "%PROCESSOR_ARCHITECTURE%"=="ARM64" goto :wrong_architecture
rem Windows on ARM runs x64 programs from Windows 11 (build 22000) on only.
set "build=0"
for /f "tokens=3" %%B in ('reg query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v CurrentBuildNumber 2^>nul') do set "build=%%B"
if /i "%built_for%"=="x64" if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" if %build% LSS 22000 goto :wrong_architecture
if /i "%built_for%"=="arm64" if /i not "%PROCESSOR_ARCHITECTURE%"=="ARM64" goto :wrong_architecture

set "dest=%ProgramFiles%\Tessavo"
set "exe=%ProgramFiles%\Tessavo\profile-sync.exe"
if not exist "%~dp0profile-sync.exe" goto :not_beside
if not exist "%~dp0profile-sync-task.xml" goto :not_beside

if not exist "%dest%\*" mkdir "%dest%" 2>nul
if not exist "%dest%\*" goto :no_folder
rem A copy cut short leaves a partial file under another name only. The
rem rename that puts it in place is the last step: an installer's detection
rem rule (the file exists) then never sees a program without its task.
copy /b /y "%~dp0profile-sync.exe" "%exe%.new" >nul
if %ERRORLEVEL% NEQ 0 goto :not_copied

rem Event Viewer reads the descriptions from the program's message table,
rem loading the file named here into every reader's process, an
rem administrator's too: only this copy, in a folder only administrators
rem write. The path is stored expanded: a 32-bit reader would expand
rem %ProgramFiles% to the other Program Files.
set "source=HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\profile-sync"
reg add "%source%" /v EventMessageFile /t REG_EXPAND_SZ /d "%exe%" /f >nul
if %ERRORLEVEL% NEQ 0 goto :no_event_source
reg add "%source%" /v TypesSupported /t REG_DWORD /d 7 /f >nul
if %ERRORLEVEL% NEQ 0 goto :no_event_source

schtasks /create /tn "\Tessavo\profile-sync" /xml "%~dp0profile-sync-task.xml" /f >nul
if %ERRORLEVEL% NEQ 0 goto :no_task
move /y "%exe%.new" "%exe%" >nul
if %ERRORLEVEL% NEQ 0 goto :not_copied
echo install: profile-sync installed in %dest%
exit /b 0

:wrong_architecture
echo install: this profile-sync.exe is for %built_for% Windows; this machine is %PROCESSOR_ARCHITECTURE%: use the zip for it 1>&2
exit /b 2
:not_beside
echo install: profile-sync.exe and profile-sync-task.xml must be beside install.cmd 1>&2
exit /b 3
:no_folder
echo install: %dest% could not be created 1>&2
exit /b 4
:not_copied
del /f /q "%exe%.new" 2>nul
echo install: profile-sync.exe could not be copied to %dest% 1>&2
exit /b 5
:no_event_source
del /f /q "%exe%.new" 2>nul
echo install: the event source profile-sync could not be registered 1>&2
exit /b 6
:no_task
del /f /q "%exe%.new" 2>nul
echo install: the task \Tessavo\profile-sync could not be created 1>&2
exit /b 7
