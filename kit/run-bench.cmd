@echo off
rem Runs the profile-import start-up benchmark on this machine and reports:
rem   run-bench.cmd [ROUNDS] [--seed N]    200 rounds by default, about a minute
rem kit-runner.exe does the work, HKCU\Software\Tessavo's backup and restore
rem included. This file finds it by its full path and hands it the arguments
rem in a variable, never on a command line, so nothing in them is run; with
rem delayed expansion off, so a ! in the folder's path stays.
setlocal EnableExtensions DisableDelayedExpansion
set "runner=%~dp0kit-runner.exe"
if /i not "%PROCESSOR_ARCHITECTURE%"=="AMD64" if /i not "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "runner=%~dp0x86\kit-runner.exe"
rem Unquoted, so that a quoted "&" stays inside its quotes.
set KIT_ARGS=%*
rem Tells the runner whether a double-click started this, so it waits for a key.
setlocal EnableDelayedExpansion
set "KIT_CMDCMDLINE=!CMDCMDLINE!"
setlocal DisableDelayedExpansion
if not exist "%runner%" goto :missing
"%runner%" bench
set "code=%ERRORLEVEL%"
rem Only the runner's own codes go on; anything else means it did not start
rem (app control, antivirus) or did not end as it should.
for %%c in (0 1 2 3) do if "%code%"=="%%c" exit /b %%c
echo run-bench: kit-runner.exe did not start or ended abnormally (code %code%); run run-bench.cmd again: it restores HKCU\Software\Tessavo first if need be
exit /b 1

rem Started from inside the zip, Explorer unpacks this file alone.
:missing
echo run-bench: "%runner%" is not there. Extract All first: right-click the zip, Extract All, then run run-bench.cmd in the folder it makes.
setlocal EnableDelayedExpansion
rem A script or task that runs it with /c waits no longer than this.
if not defined CI if /i not "!KIT_CMDCMDLINE:/c=!"=="!KIT_CMDCMDLINE!" timeout /t 300
exit /b 2
