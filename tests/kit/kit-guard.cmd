@echo off
rem What both kit commands do around their work, kept in one place. The suites
rem and the benchmark rewrite HKCU\Software\Tessavo, so it is backed up first
rem and put back exactly afterwards, whatever the outcome.
rem   kit-guard.cmd begin NAME  refuse SYSTEM; put back the backup an
rem                             interrupted run left; back the key up
rem   kit-guard.cmd end NAME    put the key back as it was; drop the backup
rem   kit-guard.cmd pause       wait for a key if Explorer started the command
rem Called from the kit folder. Exits 0, or 2 after saying why.
rem The backup names HKEY_CURRENT_USER, so it is kept where only this user on
rem this machine finds it, never in the kit folder: on a shared folder another
rem user's run would take it for its own and import it into their hive.
setlocal EnableExtensions
set "kit=%~dp0"
set "name=%~2"
set "key=HKCU\Software\Tessavo"
set "state=%LOCALAPPDATA%\profile-import-kit"
set "backup=%state%\tessavo-backup.reg"
set "absent=%state%\tessavo-absent.txt"
rem The number started-by-explorer.exe exits with after a double-click.
set "explorer_start=17"
if "%~1"=="begin" goto :begin
if "%~1"=="end" goto :end
if "%~1"=="pause" goto :pause
echo kit-guard: unknown step "%~1"
exit /b 2

:begin
rem SYSTEM's HKCU is not a user's hive: what the kit measures or checks would
rem not be what a user gets. S-1-5-18 is the SYSTEM account.
whoami /user 2>nul | find "S-1-5-18" >nul
if not errorlevel 1 goto :as_system
if /i "%USERNAME%"=="%COMPUTERNAME%$" goto :as_system
if not defined LOCALAPPDATA goto :no_state
if not exist "%state%\" mkdir "%state%" >nul 2>&1
if not exist "%state%\" goto :no_state
rem A backup left by an interrupted run holds the key as it was before that
rem run: it is put back first and kept as this run's backup.
if exist "%backup%" goto :interrupted
if exist "%absent%" goto :interrupted
reg query %key% >nul 2>&1
if errorlevel 1 goto :was_absent
rem Written under another name first, so a half-written export is never taken for a backup.
reg export %key% "%backup%.tmp" /y >nul 2>&1
if errorlevel 1 goto :backup_failed
move /y "%backup%.tmp" "%backup%" >nul
if errorlevel 1 goto :backup_failed
echo %name%: "%key%" backed up to "%backup%"
exit /b 0
:was_absent
echo %key% did not exist before the kit ran; it is deleted afterwards.>"%absent%"
rem echo leaves ERRORLEVEL as reg query set it, so the file itself is checked.
if not exist "%absent%" goto :backup_failed
echo %name%: "%key%" does not exist; it is removed again afterwards
exit /b 0
:interrupted
echo %name%: found the backup of an interrupted run; restoring "%key%" from it first
call :restore
if errorlevel 1 goto :restore_failed
exit /b 0

:end
call :restore
if errorlevel 1 goto :restore_failed
del "%backup%" "%absent%" >nul 2>&1
echo %name%: "%key%" restored as it was before the run
exit /b 0

rem The key goes, with everything under it, and comes back from the backup if it existed.
:restore
reg delete %key% /f >nul 2>&1
reg query %key% >nul 2>&1
if not errorlevel 1 exit /b 1
if not exist "%backup%" exit /b 0
reg import "%backup%" >nul 2>&1
if errorlevel 1 exit /b 1
exit /b 0

rem Only a double-click waits: not in CI, and the cmd.exe that runs the command
rem was started with /c by Explorer. A prompt, a script or a scheduled task
rem never waits. The command line goes by delayed expansion, where its quotes
rem and any & or | in it are plain text.
:pause
if defined CI exit /b 0
set "check=%kit%started-by-explorer.exe"
setlocal EnableDelayedExpansion
"!check!" !CMDCMDLINE!
if not "!ERRORLEVEL!"=="%explorer_start%" exit /b 0
pause
exit /b 0

:restore_failed
echo %name%: could not restore "%key%"; the backup stays in "%state%":
echo %name%: run %name%.cmd again to restore it, or import it with: reg import "%backup%"
exit /b 2

:backup_failed
echo %name%: could not back up "%key%"; nothing was run
del "%backup%.tmp" "%absent%" >nul 2>&1
exit /b 2

:no_state
echo %name%: no folder of this user's own to keep the backup in ("%state%"); nothing was run
exit /b 2

:as_system
echo %name%: refusing to run as the SYSTEM account: its HKCU is not a user's hive.
echo %name%: run it as a standard user, from a folder that user can write.
exit /b 2
