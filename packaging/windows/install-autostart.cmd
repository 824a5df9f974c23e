@echo off
rem Makes the Task Scheduler task "Kelvad" that starts the Kelvad.exe beside this file whenever
rem this user logs on, in this user's session and only while this user is logged on: Kelvad is
rem a window program and needs the desktop. Running it again replaces the task, so it also
rem points the task at a moved folder.
rem
rem   install-autostart.cmd [/nopause]
rem
rem Exit code 0: the task is made; 1: schtasks refused it; 2: no Kelvad.exe beside this file.
setlocal EnableExtensions DisableDelayedExpansion
set "TASK=Kelvad"
set "PROGRAM=%~dp0Kelvad.exe"
set "RUN_AS=%USERNAME%"
if defined USERDOMAIN set "RUN_AS=%USERDOMAIN%\%USERNAME%"
set "RC=0"

if exist "%PROGRAM%" goto program_found
echo install-autostart: "%PROGRAM%" does not exist.
echo Keep install-autostart.cmd in the folder of Kelvad.exe and run it from there.
set "RC=2"
goto end

:program_found
schtasks /Query /TN "%TASK%" >nul 2>&1
if errorlevel 1 goto create
echo install-autostart: the task "%TASK%" exists already; it is replaced.

:create
rem The task gets the program path in quotes ("\"...\"" keeps its blanks). The path and user
rem come in by delayed expansion, after cmd has split the line: a folder name with "&", "^"
rem or ")" then passes unchanged. Everywhere else delayed expansion stays off, or a "!" in
rem the folder name would be lost.
setlocal EnableDelayedExpansion
schtasks /Create /TN "%TASK%" /TR "\"!PROGRAM!\"" /SC ONLOGON /RU "!RUN_AS!" /IT /F
if errorlevel 1 (endlocal & goto create_failed)
endlocal
echo install-autostart: made the task "%TASK%": it starts "%PROGRAM%"
echo when "%RUN_AS%" logs on, and only while that user is logged on.
echo Check the configuration now with:  "%PROGRAM%" --check
goto end

:create_failed
set "RC=1"
echo install-autostart: schtasks could not make the task "%TASK%" - see its message above.
echo A task that starts at log on may need administrator rights: right-click
echo install-autostart.cmd, "Run as administrator", while logged on as "%RUN_AS%".

:end
call :pause_when_double_clicked %1
exit /b %RC%

rem Started from Explorer, the window would close before the message can be read.
:pause_when_double_clicked
if /i "%~1"=="/nopause" exit /b 0
for %%a in (%cmdcmdline%) do if /i "%%~a"=="/c" (
  pause
  exit /b 0
)
exit /b 0
