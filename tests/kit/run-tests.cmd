@echo off
rem Runs the profile-import test suites on this machine and reports.
rem The suites delete and rewrite HKCU\Software\Tessavo; kit-guard.cmd backs it
rem up first and puts it back afterwards, whether the tests passed or not.
rem Arguments are passed on to every suite (e.g. --gtest_filter=...).
setlocal EnableExtensions
set "kit=%~dp0"
set "code=2"
rem Each machine and user writes results and work files of its own, so two
rem runs from one shared folder never overwrite each other's.
set "run=%COMPUTERNAME%-%USERNAME%"
set "results=results\%run%"
set "PROFILE_IMPORT_TEST_WORK=e2e-work-%run%"
rem pushd, not cd: it maps a drive letter when the kit is on a UNC share.
pushd "%kit%"
if errorlevel 1 goto :no_folder
call kit-guard.cmd begin run-tests
if errorlevel 1 goto :finish

rem Every importer this machine can run, each by a suite it runs: x64 Windows
rem runs x64 and x86 programs, 32-bit Windows x86 only, Windows on ARM ARM64
rem and x86 (Windows 10 on ARM runs no x64). A 32-bit cmd.exe on 64-bit
rem Windows sees the machine's own architecture in PROCESSOR_ARCHITEW6432.
set "machine=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "machine=%PROCESSOR_ARCHITEW6432%"
set "args=%*"
set /a passed=0, failed=0, skipped=0, incomplete=0
rem Only this command's results go: the benchmark's stay.
if not exist "%results%\" mkdir "%results%"
del "%results%\unit_tests.xml" "%results%\e2e_tests.xml" "%results%\x86-*.xml" "%results%\arm64-*.xml" >nul 2>&1
echo Machine: %machine%
if /i "%machine%"=="AMD64" (
  call :run unit_tests unit_tests.exe "" "x64 importer: x64 unit tests"
  call :run e2e_tests e2e_tests.exe "" "x64 importer: x64 end-to-end tests"
)
call :run x86-unit_tests x86\unit_tests.exe "" "x86 importer: x86 unit tests"
call :run x86-e2e_tests x86\e2e_tests.exe "" "x86 importer: x86 end-to-end tests"
rem What a 32-bit importer stores, as 64-bit programs read it.
if /i "%machine%"=="AMD64" (
  call :run x86-importer-x64-e2e_tests e2e_tests.exe x86\profile-import.exe "x86 importer: x64 end-to-end tests"
)
if /i "%machine%"=="ARM64" (
  call :run arm64-importer-x86-e2e_tests x86\e2e_tests.exe ..\arm64\profile-import.exe "ARM64 importer: x86 end-to-end tests"
)
if exist "%PROFILE_IMPORT_TEST_WORK%\" rd /s /q "%PROFILE_IMPORT_TEST_WORK%"
if exist "x86\%PROFILE_IMPORT_TEST_WORK%\" rd /s /q "x86\%PROFILE_IMPORT_TEST_WORK%"

call kit-guard.cmd end run-tests
if errorlevel 1 goto :finish

echo %passed% passed, %failed% failed, %skipped% skipped
echo Results: "%kit%%results%\"
set /a bad=failed+incomplete
set "code=0"
if %bad% NEQ 0 set "code=1"
goto :finish

rem Runs one suite against one importer (an empty path: the one beside the
rem suite; else a path from the suite's folder) and counts its results:
rem   :run RESULTS SUITE IMPORTER DESCRIPTION
:run
echo %~4
set "PROFILE_IMPORT_UNDER_TEST=%~3"
.\%~2 "--gtest_output=xml:%results%\%~1.xml" %args%
set "suite_code=%ERRORLEVEL%"
set "PROFILE_IMPORT_UNDER_TEST="
call :count %~1 %suite_code%
exit /b 0

rem Adds one suite's counts from its JUnit XML: one line per test suite,
rem <testsuite name=".." tests="T" failures="F" disabled="D" skipped="S" ...>.
rem A suite that failed without reporting a failure (a crash) counts as incomplete.
:count
set /a before=failed
if not exist "%results%\%1.xml" goto :no_results
for /f "usebackq tokens=1,5,7,9,11 delims=<= " %%a in ("%results%\%1.xml") do (
  if "%%a"=="testsuite" set /a passed+=%%~b-%%~c-%%~d-%%~e, failed+=%%~c, skipped+=%%~d+%%~e
)
if "%2"=="0" exit /b 0
if %failed% GTR %before% exit /b 0
:no_results
echo run-tests: %1 ended with exit code %2 without reporting its results
set /a incomplete+=1
exit /b 0

:no_folder
echo run-tests: cannot change to the kit folder "%kit%"
:finish
popd
call "%kit%kit-guard.cmd" pause
exit /b %code%
