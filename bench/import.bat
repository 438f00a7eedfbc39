@echo off
rem What an administrator would write instead of the importer. reg by its
rem full path: the work folder, searched first, is not System32.
"%SystemRoot%\System32\reg.exe" add "HKCU\Software\Tessavo\Mirandel" /v RegCorp /t REG_SZ /d "Tessavo Demo Site" /f >nul
"%SystemRoot%\System32\reg.exe" add "HKCU\Software\Tessavo\Mirandel" /v RegDataBase /t REG_SZ /d "SQL01\MIRANDEL" /f >nul
"%SystemRoot%\System32\reg.exe" add "HKCU\Software\Tessavo\Mirandel" /v RegAdmin /t REG_SZ /d "admin" /f >nul
"%SystemRoot%\System32\reg.exe" add "HKCU\Software\Tessavo\Mirandel" /v RegUser /t REG_SZ /d "jdoe" /f >nul
del sysfile.cfg
