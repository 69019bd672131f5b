@echo off
rem Production station (Windows command prompt): writes one configuration into
rem the OB310 that is plugged in, logs the success, and tells the operator what
rem to do next from the exit code.
rem   program-station.bat FILE.ob310 PIN [LOGFILE]
rem OB310_CLI names the tool (default: ob310_cli.exe in the folder above this
rem script's, as unpacked from the zip, else from PATH; ob310_cli_sim.exe tries
rem the script on the simulated OB310).
rem Exits with the tool's exit code, or with 9009 (the command prompt's code
rem for a command it cannot find) when the tool cannot be started.
rem
rem File names may hold &, percent signs, !, ^, spaces and letters of any
rem language: each argument is only ever used as "%~1" (in quotes) or through a
rem FOR variable (%%F), whose value the command prompt does not parse again.
rem Delayed expansion stays off, so ! is an ordinary character.
setlocal DisableDelayedExpansion
if "%~2"=="" (
    for %%S in ("%~nx0") do echo usage: %%~S FILE.ob310 PIN [LOGFILE]
    exit /b 16
)
if not defined OB310_CLI (
    set "OB310_CLI=ob310_cli.exe"
    if exist "%~dp0..\ob310_cli.exe" set "OB310_CLI=%~dp0..\ob310_cli.exe"
)

rem The log file: the third argument, else ob310.log (the first of the two
rem names that is not empty).
for /f "tokens=1 delims=|" %%L in ("%~3|ob310.log") do "%OB310_CLI%" -f "%~1" -p "%~2" -l "%%L"
set STATUS=%ERRORLEVEL%

rem Compare exactly: "if errorlevel 4" would also be true for 8, 16, 64 and 256.
set KNOWN=
for %%C in (0 1 2 4 8 16 64 256 9009) do if %STATUS% EQU %%C set KNOWN=1
if not defined KNOWN echo FAIL: unexpected exit code %STATUS%
if %STATUS% EQU 0    for /f "tokens=1 delims=|" %%L in ("%~3|ob310.log") do echo PASS: OB310 programmed and logged in %%L
if %STATUS% EQU 1    echo FAIL: no OB310 found - check the cable
if %STATUS% EQU 2    echo STOP: more than one OB310 connected - connect exactly one
if %STATUS% EQU 4    echo FAIL: the OB310 refused or did not answer - wrong PIN for this device, or a faulty device
if %STATUS% EQU 8    for %%F in ("%~1") do echo STOP: configuration file %%~F not found
if %STATUS% EQU 16   for /f "tokens=1 delims=|" %%L in ("%~3|ob310.log") do echo STOP: argument error - can the log file %%L be written?
if %STATUS% EQU 64   echo STOP: the PIN must be 16 hexadecimal digits
if %STATUS% EQU 256  for %%F in ("%~1") do echo STOP: %%~F is not a valid configuration file
rem The tool never exits 9009: the command prompt could not start it.
if %STATUS% EQU 9009 for %%C in ("%OB310_CLI%") do echo STOP: %%~C can not be started - is ob310_cli installed?
exit /b %STATUS%
