@echo off
rem quorvik-install.cmd [uninstall], beside quorvik-patch.exe: puts the Italian texts into
rem Quorvik 2000 (or back into English) and answers with exit codes deployment tools know:
rem 0 done or already so, 1618 retry later (in use), 2 to 4 the companion's failures.
setlocal
rem Only administrators may write under Program Files; the same folder for 32- and 64-bit callers.
set "tool=%ProgramFiles%\QuorvikItaliano"
if defined ProgramFiles(x86) set "tool=%ProgramFiles(x86)%\QuorvikItaliano"
set "log=%SystemRoot%\Logs\Software\quorvik-patch.log"
rem The product's usual folders, the first that holds it; the same list as the .ps1 scripts.
set "target="
if defined ProgramFiles(x86) call :look "%ProgramFiles(x86)%"
if defined ProgramW6432 call :look "%ProgramW6432%"
call :look "%ProgramFiles%"
call :look "%SystemDrive%\Programmi"
if not defined target set "target=%ProgramFiles%\Quorvik\Quorvik.exe"
if not exist "%tool%" mkdir "%tool%"
copy /y "%~dp0quorvik-patch.exe" "%tool%\quorvik-patch.exe" >nul
if errorlevel 1 exit /b 1618
if /i "%~1"=="uninstall" goto uninstall
"%tool%\quorvik-patch.exe" --log "%log%" patch --backup "%target%"
goto done
:uninstall
"%tool%\quorvik-patch.exe" check "%target%" >nul
if %ERRORLEVEL%==0 exit /b 0
"%tool%\quorvik-patch.exe" --log "%log%" revert "%target%"
:done
if %ERRORLEVEL%==5 exit /b 0
if %ERRORLEVEL%==1 exit /b 1618
exit /b %ERRORLEVEL%

:look
if not defined target if exist "%~1\Quorvik\Quorvik.exe" set "target=%~1\Quorvik\Quorvik.exe"
exit /b 0
