@echo off
rem Production station (Windows command prompt): writes one configuration into
rem the OB310 that is plugged in, logs the success, and tells the operator what
rem to do next from the exit code. Exits with the tool's exit code.
rem   program-station.bat FILE.ob310 PIN [LOGFILE]
rem OB310_CLI names the tool (default: ob310_cli.exe in the folder above this
rem script's, as unpacked from the zip, else from PATH; ob310_cli_sim.exe tries
rem the script on the simulated OB310).
setlocal
if "%~2"=="" (
    echo usage: %~nx0 FILE.ob310 PIN [LOGFILE]
    exit /b 16
)
if not defined OB310_CLI (
    set "OB310_CLI=ob310_cli.exe"
    if exist "%~dp0..\ob310_cli.exe" set "OB310_CLI=%~dp0..\ob310_cli.exe"
)
set "FILE=%~1"
set "LOG=%~3"
if "%LOG%"=="" set "LOG=ob310.log"

"%OB310_CLI%" -f "%FILE%" -p "%~2" -l "%LOG%"
set STATUS=%ERRORLEVEL%

rem Compare exactly: "if errorlevel 4" would also be true for 8, 16, 64 and 256.
set "MESSAGE=FAIL: unexpected exit code %STATUS%"
if %STATUS% EQU 0   set "MESSAGE=PASS: OB310 programmed and logged in %LOG%"
if %STATUS% EQU 1   set "MESSAGE=FAIL: no OB310 found - check the cable"
if %STATUS% EQU 2   set "MESSAGE=STOP: more than one OB310 connected - connect exactly one"
if %STATUS% EQU 4   set "MESSAGE=FAIL: the OB310 refused or did not answer - wrong PIN for this device, or a faulty device"
if %STATUS% EQU 8   set "MESSAGE=STOP: configuration file %FILE% not found"
if %STATUS% EQU 16  set "MESSAGE=STOP: argument error - can the log file %LOG% be written?"
if %STATUS% EQU 64  set "MESSAGE=STOP: the PIN must be 16 hexadecimal digits"
if %STATUS% EQU 256 set "MESSAGE=STOP: %FILE% is not a valid configuration file"
echo %MESSAGE%
exit /b %STATUS%
