@echo off
rem Runs the profile-import test suites on this machine and reports.
rem The suites delete and rewrite HKCU\Software\Tessavo; kit-guard.cmd backs it
rem up first and puts it back afterwards, whether the tests passed or not.
rem Arguments are passed on to both suites (e.g. --gtest_filter=...).
setlocal EnableExtensions
set "kit=%~dp0"
set "code=2"
rem pushd, not cd: it maps a drive letter when the kit is on a UNC share.
pushd "%kit%"
if errorlevel 1 goto :no_folder
call kit-guard.cmd begin run-tests
if errorlevel 1 goto :finish

rem Only this command's results go: the benchmark's stay.
if not exist results mkdir results
del results\unit_tests.xml results\e2e_tests.xml >nul 2>&1
.\unit_tests.exe --gtest_output=xml:results\unit_tests.xml %*
set "unit_code=%ERRORLEVEL%"
.\e2e_tests.exe --gtest_output=xml:results\e2e_tests.xml %*
set "e2e_code=%ERRORLEVEL%"
if exist e2e-work rd /s /q e2e-work

call kit-guard.cmd end run-tests
if errorlevel 1 goto :finish

set /a passed=0, failed=0, skipped=0, incomplete=0
call :count unit_tests %unit_code%
call :count e2e_tests %e2e_code%
echo %passed% passed, %failed% failed, %skipped% skipped
echo Results: %kit%results\
set /a bad=failed+incomplete
set "code=0"
if %bad% NEQ 0 set "code=1"
goto :finish

rem Adds one suite's counts from its JUnit XML: one line per test suite,
rem <testsuite name=".." tests="T" failures="F" disabled="D" skipped="S" ...>.
rem A suite that failed without reporting a failure (a crash) counts as incomplete.
:count
set /a before=failed
if not exist "results\%1.xml" goto :no_results
for /f "usebackq tokens=1,5,7,9,11 delims=<= " %%a in ("results\%1.xml") do (
  if "%%a"=="testsuite" set /a passed+=%%~b-%%~c-%%~d-%%~e, failed+=%%~c, skipped+=%%~d+%%~e
)
if "%2"=="0" exit /b 0
if %failed% GTR %before% exit /b 0
:no_results
echo run-tests: %1.exe ended with exit code %2 without reporting its results
set /a incomplete+=1
exit /b 0

:no_folder
echo run-tests: cannot change to the kit folder "%kit%"
:finish
popd
call "%kit%kit-guard.cmd" pause
exit /b %code%
