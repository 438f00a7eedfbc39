@echo off
rem Runs the profile-import test suites on this machine and reports.
rem The suites delete and rewrite HKCU\Software\Tessavo, so the key is backed
rem up first and put back afterwards, whether the tests passed or not.
rem Arguments are passed on to both suites (e.g. --gtest_filter=...).
setlocal EnableExtensions
set "kit=%~dp0"
set "key=HKCU\Software\Tessavo"
set "backup=tessavo-backup.reg"
set "absent=tessavo-absent.txt"

rem SYSTEM's HKCU is not a user's hive: what the suites check would not be what
rem a user gets. S-1-5-18 is the SYSTEM account.
whoami /user 2>nul | find "S-1-5-18" >nul
if not errorlevel 1 goto :as_system
if /i "%USERNAME%"=="%COMPUTERNAME%$" goto :as_system

rem pushd, not cd: it maps a drive letter when the kit is on a UNC share.
pushd "%kit%"
if errorlevel 1 (
  echo run-tests: cannot change to the kit folder "%kit%"
  exit /b 2
)

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
echo run-tests: %key% backed up to %kit%%backup%
goto :run
:was_absent
echo %key% did not exist before the test run; it is deleted afterwards.>"%absent%"
if errorlevel 1 goto :backup_failed
echo run-tests: %key% does not exist; it is removed again after the tests
goto :run
:interrupted
echo run-tests: found the backup of an interrupted run; restoring %key% from it first
call :restore
if errorlevel 1 goto :restore_failed

:run
if exist results rd /s /q results
mkdir results
.\unit_tests.exe --gtest_output=xml:results\unit_tests.xml %*
set "unit_code=%ERRORLEVEL%"
.\e2e_tests.exe --gtest_output=xml:results\e2e_tests.xml %*
set "e2e_code=%ERRORLEVEL%"
if exist e2e-work rd /s /q e2e-work

call :restore
if errorlevel 1 goto :restore_failed
del "%backup%" "%absent%" >nul 2>&1
echo run-tests: %key% restored as it was before the run

set /a passed=0, failed=0, skipped=0, incomplete=0
call :count unit_tests %unit_code%
call :count e2e_tests %e2e_code%
echo %passed% passed, %failed% failed, %skipped% skipped
echo Results: %kit%results\
popd
set /a bad=failed+incomplete
if %bad% NEQ 0 exit /b 1
exit /b 0

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

rem The key goes, with everything under it, and comes back from the backup if it existed.
:restore
reg delete %key% /f >nul 2>&1
reg query %key% >nul 2>&1
if not errorlevel 1 exit /b 1
if not exist "%backup%" exit /b 0
reg import "%backup%" >nul 2>&1
if errorlevel 1 exit /b 1
exit /b 0

:restore_failed
echo run-tests: could not restore %key%; the backup stays in %kit% (%backup% or %absent%):
echo run-tests: run run-tests.cmd again to restore it, or import it with: reg import "%kit%%backup%"
popd
exit /b 2

:backup_failed
echo run-tests: could not back up %key%; nothing was run
del "%backup%.tmp" "%absent%" >nul 2>&1
popd
exit /b 2

:as_system
echo run-tests: refusing to run as the SYSTEM account: its HKCU is not a user's hive.
echo run-tests: run it as a standard user, from a folder that user can write.
exit /b 2
