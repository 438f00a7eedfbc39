@echo off
rem What an administrator would write instead of the importer.
reg add "HKCU\Software\Tessavo\Mirandel" /v RegCorp /t REG_SZ /d "Tessavo Demo Site" /f >nul
reg add "HKCU\Software\Tessavo\Mirandel" /v RegDataBase /t REG_SZ /d "SQL01\MIRANDEL" /f >nul
reg add "HKCU\Software\Tessavo\Mirandel" /v RegAdmin /t REG_SZ /d "admin" /f >nul
reg add "HKCU\Software\Tessavo\Mirandel" /v RegUser /t REG_SZ /d "jdoe" /f >nul
del sysfile.cfg
