@echo off
rem Measures what a run of profile-import costs on this machine:
rem bench-startup.exe times it against the start-up limit, an empty program
rem and the batch file it replaces, and the flush of the profile key.
rem   run-bench.cmd [ROUNDS]    200 rounds by default, about a minute
rem The importer and the batch file rewrite HKCU\Software\Tessavo; kit-guard.cmd
rem backs it up first and puts it back afterwards, as for the tests.
setlocal EnableExtensions
set "kit=%~dp0"
set "rounds=%~1"
if "%rounds%"=="" set "rounds=200"
set "code=2"
rem Results and work files of this machine and user's own, as run-tests.cmd's.
set "run=%COMPUTERNAME%-%USERNAME%"
set "results=results\%run%"
set "work=bench-work-%run%"
pushd "%kit%"
if errorlevel 1 goto :no_folder
call kit-guard.cmd begin run-bench
if errorlevel 1 goto :finish

if not exist "%results%\" mkdir "%results%"
rem Every importer the machine runs, each against its own architecture's
rem minimal PE; the x86 benchmark where x64 programs may not run.
set "machine=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "machine=%PROCESSOR_ARCHITEW6432%"
set "bench=.\bench-startup.exe --arch x86"
if /i not "%machine%"=="AMD64" set "bench=.\x86\bench-startup.exe"
if /i "%machine%"=="ARM64" set "bench=.\x86\bench-startup.exe --arch ..\arm64"
echo run-bench: timing %rounds% rounds on %machine%; the report follows when they are done
%bench% --rounds %rounds% --work "%work%" --json "%results%\bench.json" >"%results%\bench.txt" 2>&1
set "code=%ERRORLEVEL%"
if exist "%work%\" rd /s /q "%work%"
call kit-guard.cmd end run-bench
if errorlevel 1 set "code=2"
echo Results: "%kit%%results%\bench.json", "%kit%%results%\bench.txt"
rem The report last, so that its last line, the one to quote, ends the output.
type "%results%\bench.txt"
goto :finish

:no_folder
echo run-bench: cannot change to the kit folder "%kit%"
:finish
popd
call "%kit%kit-guard.cmd" pause
exit /b %code%
