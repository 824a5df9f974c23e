@echo off
rem Removes the Task Scheduler task "Kelvad" made by install-autostart.cmd. When there is no
rem such task there is nothing to do, and that counts as success.
rem
rem   remove-autostart.cmd [/nopause]
rem
rem Exit code 0: the task is gone (or was never there); 1: schtasks could not remove it.
setlocal EnableExtensions DisableDelayedExpansion
set "TASK=Kelvad"
set "RC=0"

schtasks /Query /TN "%TASK%" >nul 2>&1
if not errorlevel 1 goto delete
echo remove-autostart: schtasks knows no task "%TASK%" - nothing to remove.
goto end

:delete
schtasks /Delete /TN "%TASK%" /F
if errorlevel 1 goto delete_failed
echo remove-autostart: removed the task "%TASK%"; Kelvad no longer starts at log on.
echo A Kelvad that runs now goes on running until its window is closed.
goto end

:delete_failed
set "RC=1"
echo remove-autostart: schtasks could not remove the task "%TASK%" - see its message above.
echo A task made by an administrator may need administrator rights to remove: right-click
echo remove-autostart.cmd, "Run as administrator".

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
