@echo off
rem Production station (Windows command prompt): writes one configuration into
rem OB310s.
rem   program-station.bat FILE.ob310 PIN [LOGFILE]
rem     writes the OB310 that is plugged in, logs the success, and tells the
rem     operator what to do next from the exit code.
rem   program-station.bat --production FILE.ob310 PIN [LOGFILE]
rem     production mode: waits for an OB310, writes it, reads it back and
rem     compares, reports, waits until it is unplugged, and again, until a stop
rem     file (LOGFILE.stop) ends the session after the current device. (On
rem     Ctrl+C the command prompt asks to end the batch job once the running
rem     command has ended: a write is never cut short.) Everything it prints
rem     also goes to LOGFILE.report.txt.
rem OB310_CLI names the tool (default: ob310_cli.exe in the folder above this
rem script's, as unpacked from the zip, else from PATH; ob310_cli_sim.exe tries
rem the script on the simulated OB310). Production mode also reads
rem OB310_POLL_MS (the pause between two looks for a device, default 500 ms,
rem waited in whole seconds: the command prompt has no shorter wait) and
rem OB310_RERUN (serial numbers that may be written once more although the log
rem holds them).
rem Exits with the tool's exit code, or with 9009 (the command prompt's code
rem for a command it cannot find) when the tool cannot be started; production
rem mode exits 0 when the stop file ended it, else with the code of the STOP.
rem
rem File names may hold &, percent signs, !, ^, spaces and letters of any
rem language: each argument is only ever used as "%~1" (in quotes) or through a
rem FOR variable (%%F), whose value the command prompt does not parse again.
rem Delayed expansion stays off, so ! is an ordinary character. Production mode
rem keeps the names it needs in subroutines (report, stop file, log) in a file
rem of its own in %TEMP% and reads them back with FOR /F.
rem Every FOR /F sets its eol, to * where it reads names: with the default ";"
rem it would skip a name that starts with ";" on Windows (Wine's cmd does not),
rem and no file name can hold "*".
rem The tool takes any argument that starts with "-" for an option, so such a
rem name reaches it as .\NAME: DOT_FILE and DOT_LOG hold .\ for such a name
rem and nothing else (a FOR /F with eol=- skips it and so leaves them set).
setlocal DisableDelayedExpansion
if not defined OB310_CLI (
    set "OB310_CLI=ob310_cli.exe"
    if exist "%~dp0..\ob310_cli.exe" set "OB310_CLI=%~dp0..\ob310_cli.exe"
)
if /i "%~1"=="--production" goto :production
if "%~2"=="" (
    for %%S in ("%~nx0") do echo usage: %%~S [--production] FILE.ob310 PIN [LOGFILE]
    exit /b 16
)

rem The log file: the third argument, else ob310.log (the first of the two
rem names that is not empty).
set "DOT_FILE=.\"
set "DOT_LOG=.\"
for /f "eol=- delims=" %%T in ("%~1") do set "DOT_FILE="
for /f "eol=- delims=" %%T in ("%~3|ob310.log") do set "DOT_LOG="
for /f "eol=* tokens=1 delims=|" %%L in ("%~3|ob310.log") do "%OB310_CLI%" -f "%DOT_FILE%%~1" -p "%~2" -l "%DOT_LOG%%%L"
set STATUS=%ERRORLEVEL%

rem Compare exactly: "if errorlevel 4" would also be true for 8, 16, 64 and 256.
set KNOWN=
for %%C in (0 1 2 4 8 16 64 256 9009) do if %STATUS% EQU %%C set KNOWN=1
if not defined KNOWN echo FAIL: unexpected exit code %STATUS%
if %STATUS% EQU 0    for /f "eol=* tokens=1 delims=|" %%L in ("%~3|ob310.log") do echo PASS: OB310 programmed and logged in %%L
if %STATUS% EQU 1    echo FAIL: no OB310 found - check the cable
if %STATUS% EQU 2    echo STOP: more than one OB310 connected - connect exactly one
if %STATUS% EQU 4    echo FAIL: the OB310 refused or did not answer - wrong PIN for this device, or a faulty device
if %STATUS% EQU 8    for %%F in ("%~1") do echo STOP: configuration file %%~F not found
if %STATUS% EQU 16   for /f "eol=* tokens=1 delims=|" %%L in ("%~3|ob310.log") do echo STOP: argument error - can the log file %%L be written?
if %STATUS% EQU 64   echo STOP: the PIN must be 16 hexadecimal digits
if %STATUS% EQU 256  for %%F in ("%~1") do echo STOP: %%~F is not a valid configuration file
rem The tool never exits 9009: the command prompt could not start it.
if %STATUS% EQU 9009 for %%C in ("%OB310_CLI%") do echo STOP: %%~C can not be started - is ob310_cli installed?
exit /b %STATUS%

rem ---- Production mode ------------------------------------------------------
:production
if "%~3"=="" (
    for %%S in ("%~nx0") do echo usage: %%~S [--production] FILE.ob310 PIN [LOGFILE]
    exit /b 16
)
if not defined TEMP set "TEMP=%CD%"
set "WORK=%TEMP%\ob310-station-%RANDOM%%RANDOM%"
set "NAMES=%WORK%-names.txt"
set "OUT=%WORK%-out.txt"
set "MSGF=%WORK%-say.txt"
rem The names file: REPORT|STOPFILE|LOG on one line (no file name holds "|").
for /f "eol=* tokens=1 delims=|" %%L in ("%~4|ob310.log") do >"%NAMES%" echo %%L.report.txt^|%%L.stop^|%%L
if not exist "%NAMES%" (
    for %%T in ("%TEMP%") do echo STOP: %%~T can not be written
    exit /b 16
)
set STATUS=16
for /f "usebackq eol=* tokens=1 delims=|" %%R in ("%NAMES%") do (
    type nul >>"%%R" 2>nul
    if exist "%%R" set STATUS=0
)
if %STATUS% NEQ 0 (
    for /f "usebackq eol=* tokens=1 delims=|" %%R in ("%NAMES%") do echo STOP: the report %%R can not be written
    goto :cleanup
)
set /a PASSED=0, FAILED=0, REFUSED=0
rem A simulated record counts only against the simulator, a real one only
rem against real devices: the simulator's records end with DEVICE=simulated;.
set "SIM="
for %%C in ("%OB310_CLI%") do if /i "%%~nC"=="ob310_cli_sim" set SIM=1
set "RERUN=%OB310_RERUN%"
if defined RERUN set "RERUN=%RERUN:,= %"
if defined RERUN set "RERUN=%RERUN:;= %"
set "WRITTEN= "
set "POLL=%OB310_POLL_MS%"
if not defined POLL set POLL=500
rem A number of milliseconds is what set /a gives back (which reads a leading
rem 0 as octal: those go first).
:poll_zeros
if "%POLL:~0,1%"=="0" if not "%POLL%"=="0" (
    set "POLL=%POLL:~1%"
    goto :poll_zeros
)
set "T="
set /a T=POLL 2>nul
if not "%T%"=="%POLL%" (
    set "MSG=STOP: OB310_POLL_MS must be a number of milliseconds"
    call :say
    set STATUS=16
    goto :cleanup
)
set /a POLL_S=(POLL + 999) / 1000, POLL_PINGS=POLL_S + 1

rem Everything is checked before the first device is touched: the tool, the
rem PIN and the log (a valid PIN with nothing to do opens the log and touches
rem no device), and the file's data lines 1 and 6.
set "DOT_FILE=.\"
set "DOT_LOG=.\"
for /f "eol=- delims=" %%T in ("%~2") do set "DOT_FILE="
for /f "eol=- delims=" %%T in ("%~4|ob310.log") do set "DOT_LOG="
for /f "usebackq eol=* tokens=3 delims=|" %%G in ("%NAMES%") do "%OB310_CLI%" -p "%~3" -l "%DOT_LOG%%%G" >"%OUT%"
set STATUS=%ERRORLEVEL%
if %STATUS% NEQ 0 goto :stop_session
set STATUS=8
if not exist "%~2" goto :stop_session
if exist "%~2\*" goto :stop_session
rem What the file promises the device shows after writing: data line 1 (the
rem custom data) and data line 6 (the lock), read as the tool reads them. This
rem FOR /F reads content, not a name: its eol # skips the comment lines that
rem start with #, :data_line the others. (Wine's cmd reads on after a goto out
rem of a FOR, hence no goto here.)
set STATUS=256
set N=0
set "DATA1="
set "DATA6="
set "T="
set "FIRST=1"
for /f "usebackq eol=# delims=" %%A in ("%~2") do (
    set "LINE=%%A"
    if not defined DATA6 call :data_line
)
if not defined DATA6 goto :stop_session
if not "%DATA1:~32%"=="" goto :stop_session
if "%DATA1:~31,1%"=="" goto :stop_session
rem (A string of hexadecimal digits alone gives no token; Wine gives an empty one.)
for /f "eol=* delims=0123456789abcdefABCDEF" %%X in ("%DATA1%") do set "T=%%X"
if defined T goto :stop_session
set "DATA1=%DATA1:A=a%"
set "DATA1=%DATA1:B=b%"
set "DATA1=%DATA1:C=c%"
set "DATA1=%DATA1:D=d%"
set "DATA1=%DATA1:E=e%"
set "DATA1=%DATA1:F=f%"
if not "%DATA6:~2%"=="" goto :stop_session
if "%DATA6:~1,1%"=="" goto :stop_session
rem The tool reads the lock line as a base-16 number and locks for 1 only.
set "EXPECT_LOCK=open"
set "C1=%DATA6:~0,1%"
set "C2=%DATA6:~1,1%"
if "%DATA6%"=="01" set "EXPECT_LOCK=locked"
if "%C2%"=="1" for %%C in (" " "	" "+") do if "%C1%"==%%C set "EXPECT_LOCK=locked"
for /f "eol=* delims=0123456789abcdefABCDEF" %%X in ("%C2%") do set "T=%%X"
if "%C1%"=="1" if defined T set "EXPECT_LOCK=locked"
for /f "usebackq eol=* tokens=1,2 delims=|" %%R in ("%NAMES%") do if exist "%%S" del "%%S"
call :now
for /f "usebackq eol=* tokens=1-3 delims=|" %%R in ("%NAMES%") do for %%F in ("%~2") do for %%C in ("%OB310_CLI%") do (
    >"%MSGF%" echo %DAY% %STAMP%  Session started: %%~F into each OB310 with %%~nxC
    >>"%MSGF%" echo Check after writing: custom data %DATA1%, %EXPECT_LOCK%
    >>"%MSGF%" echo Log %%T, report %%R
    >>"%MSGF%" echo Stop with Ctrl+C or by creating %%S
)
call :say_file

rem The loop: wait for one OB310, write it, check it, wait until it is gone.
rem MODE device: waiting for one; removal: waiting for SERIAL to go.
set "MODE=device"
set ANNOUNCED=0
set TWO=0
set "SERIAL="
set "STOP_BY="
:loop
for /f "usebackq eol=* tokens=1,2 delims=|" %%R in ("%NAMES%") do (
    if exist "%%S" (
        del "%%S"
        set "STOP_BY=the stop file"
    )
)
if defined STOP_BY goto :session_ended
if "%MODE%%ANNOUNCED%"=="device0" (
    set ANNOUNCED=1
    color
    set "MSG=Waiting for an OB310 ..."
    call :say
)
"%OB310_CLI%" -i >"%OUT%"
set STATUS=%ERRORLEVEL%
if %STATUS% EQU 1 (
    set "MODE=device"
    set TWO=0
    call :pause
    goto :loop
)
rem A device that does not answer fails once, then has to go.
if %STATUS% EQU 4 if "%MODE%"=="device" (
    call :error_text
    set "BOARD="
    set "RESULT=FAIL"
    call :result
)
if %STATUS% EQU 4 (
    call :pause
    goto :loop
)
if %STATUS% NEQ 0 goto :stop_session
call :read_info
rem The board that had to go is still there (or one that never answered).
if "%MODE%"=="removal" if not defined SERIAL (
    call :pause
    goto :loop
)
if "%MODE%"=="removal" if "%I_SERIAL%"=="%SERIAL%" (
    call :pause
    goto :loop
)
set "SERIAL=%I_SERIAL%"
set "BOARD=%I_SERIAL%"
set "ERASES=%I_ERASES%"
set /a ERASES+=0
call :written_before
if defined SEEN (
    set "RESULT=REFUSED"
    set "WHY=already written; OB310_RERUN=%SERIAL% writes it again"
    call :result
    goto :loop
)
rem The tool runs in a process group of its own, which Ctrl+C does not reach,
rem so a write is never cut short.
for /f "usebackq eol=* tokens=3 delims=|" %%G in ("%NAMES%") do start "" /b /wait "%OB310_CLI%" -f "%DOT_FILE%%~2" -p "%~3" -l "%DOT_LOG%%%G" >"%OUT%"
set STATUS=%ERRORLEVEL%
if %STATUS% EQU 1 (
    call :pause
    goto :loop
)
if %STATUS% EQU 2 if %TWO% EQU 0 (
    set "MSG=STOP: more than one OB310 connected - connect exactly one"
    call :say
)
if %STATUS% EQU 2 (
    set TWO=1
    call :pause
    goto :loop
)
if %STATUS% EQU 4 (
    call :error_text
    set "RESULT=FAIL"
    call :result
    goto :loop
)
if %STATUS% NEQ 0 goto :stop_session
set "WRITTEN=%WRITTEN%%SERIAL% "
rem The check: the device shows what the file says, and one erase more (the
rem count stops at 65535).
set /a EXPECT_ERASES=ERASES + 1
if %ERASES% GEQ 65535 set EXPECT_ERASES=65535
"%OB310_CLI%" -i >"%OUT%"
set STATUS=%ERRORLEVEL%
set "RESULT=FAIL"
if %STATUS% NEQ 0 call :error_text
if %STATUS% NEQ 0 (
    set "WHY=written, but the check got no answer: %WHY%"
    call :result
    goto :loop
)
call :read_info
set "MISMATCH="
if /i not "%I_CUSTOM%"=="%DATA1%" set "MISMATCH=%MISMATCH%; custom data %I_CUSTOM%, expected %DATA1%"
if not "%I_LOCK%"=="%EXPECT_LOCK%" set "MISMATCH=%MISMATCH%; lock %I_LOCK%, expected %EXPECT_LOCK%"
if not "%I_ERASES%"=="%EXPECT_ERASES%" set "MISMATCH=%MISMATCH%; erase count %I_ERASES%, expected %EXPECT_ERASES%"
if not "%I_SERIAL%"=="%SERIAL%" set "MISMATCH=%MISMATCH%; serial %I_SERIAL%, expected %SERIAL%"
set "WHY=check: %MISMATCH:~2%"
if not defined MISMATCH (
    set "RESULT=PASS"
    set "WHY=written, checked and logged (erase count %I_ERASES%)"
)
call :result
goto :loop

:session_ended
call :now
set "MSG=%DAY% %STAMP%  Session ended by %STOP_BY%: %PASSED% passed, %FAILED% failed, %REFUSED% refused"
call :say
set STATUS=0
goto :cleanup

rem A STOP that ends the session (a fault of the station's set-up).
:stop_session
call :now
for /f "usebackq eol=* tokens=1-3 delims=|" %%R in ("%NAMES%") do for %%F in ("%~2") do for %%C in ("%OB310_CLI%") do (
    >"%MSGF%" echo FAIL: unexpected exit code %STATUS%
    if %STATUS% EQU 8    >"%MSGF%" echo STOP: configuration file %%~F not found
    if %STATUS% EQU 16   >"%MSGF%" echo STOP: argument error - can the log file %%T be written?
    if %STATUS% EQU 64   >"%MSGF%" echo STOP: the PIN must be 16 hexadecimal digits
    if %STATUS% EQU 256  >"%MSGF%" echo STOP: %%~F is not a valid configuration file
    if %STATUS% EQU 9009 >"%MSGF%" echo STOP: %%~C can not be started - is ob310_cli installed?
    >>"%MSGF%" echo %DAY% %STAMP%  Session ended by a STOP: %PASSED% passed, %FAILED% failed, %REFUSED% refused
)
call :say_file

:cleanup
del "%NAMES%" "%OUT%" "%OUT%.sim" "%MSGF%" 2>nul
exit /b %STATUS%

rem ---- Subroutines of production mode (they never see a file name except
rem through the names file) ------------------------------------------------

rem One line of the file in LINE: a comment when it starts with : or ; (FOR /F
rem has skipped those starting with # and the empty ones, which Wine's cmd
rem hands on as empty), else the next data line. The tool skips a UTF-8 byte
rem order mark at the very start of the file (Notepad saves one), and so does
rem Wine's FOR /F, but Windows' hands it on, as 3 characters in the console's
rem code page (1 in UTF-8, 2 in the double-byte ones): BOM holds its bytes,
rem which the command prompt reads in the same code page as the file, and the
rem first line is judged by what follows them. (Wine reads the two in
rem different code pages, so the tests cannot see this.)
:data_line
if not defined LINE exit /b
set "T=%LINE:~0,1%"
set "BOM=﻿"
if defined FIRST if "%LINE:~0,1%"=="%BOM%" set "T=%LINE:~1,1%"
if defined FIRST if "%LINE:~0,2%"=="%BOM%" set "T=%LINE:~2,1%"
if defined FIRST if "%LINE:~0,3%"=="%BOM%" set "T=%LINE:~3,1%"
set "FIRST="
if defined T set "T=%T:#=%"
if defined T set "T=%T::=%"
if defined T set "T=%T:;=%"
if not defined T exit /b
if %N% EQU 1 set "DATA1=%LINE%"
if %N% EQU 6 set "DATA6=%LINE%"
set /a N+=1
exit /b

rem The fields of an -i printout in OUT: serial (upper case, as in the log),
rem erase count, custom data and lock state.
:read_info
set "I_SERIAL="
set "I_ERASES="
set "I_CUSTOM="
set "I_LOCK="
for /f "usebackq eol=* tokens=1-4 delims== " %%A in ("%OUT%") do (
    if "%%A"=="Custom" set "I_CUSTOM=%%C"
    if "%%A"=="Lock" set "I_LOCK=%%C"
    if "%%A"=="Erase" set "I_ERASES=%%C"
    if "%%A"=="Serial" set "I_SERIAL=%%B"
)
if not defined I_SERIAL exit /b
set "I_SERIAL=%I_SERIAL:a=A%"
set "I_SERIAL=%I_SERIAL:b=B%"
set "I_SERIAL=%I_SERIAL:c=C%"
set "I_SERIAL=%I_SERIAL:d=D%"
set "I_SERIAL=%I_SERIAL:e=E%"
set "I_SERIAL=%I_SERIAL:f=F%"
exit /b

rem The tool's last error line in OUT, ESC[31mError: ... Code=0x0004ESC[0m,
rem without its colour; else the exit code.
:error_text
set "WHY=exit code %STATUS%"
for /f "usebackq eol=* tokens=1,2 delims=[" %%D in ("%OUT%") do if not "%%E"=="" set "WHY=%%E"
if "%WHY:~0,3%"=="31m" set "WHY=%WHY:~3,-1%"
exit /b

rem SEEN when the log holds a write of SERIAL by a device of this station's
rem kind, unless OB310_RERUN allows it once more. The FILE= field escapes ";",
rem so it can hold neither the record's fields nor DEVICE=simulated; of its own.
:written_before
set "SEEN="
set /a N_ALL=0, N_SIM=0
for /f "usebackq eol=* tokens=3 delims=|" %%G in ("%NAMES%") do find "CMD=write;STATE=success;SN=%SERIAL%;" <"%%G" >"%OUT%"
find "DEVICE=simulated;" <"%OUT%" >"%OUT%.sim"
for /f "usebackq eol=* delims=" %%X in ("%OUT%") do set /a N_ALL+=1
for /f "usebackq eol=* delims=" %%X in ("%OUT%.sim") do set /a N_SIM+=1
if defined SIM if %N_SIM% GTR 0 set SEEN=1
if not defined SIM if %N_ALL% GTR %N_SIM% set SEEN=1
if not defined SEEN exit /b
for %%S in (%RERUN%) do if /i "%%S"=="%SERIAL%" set "SEEN="
for %%S in (%WRITTEN%) do if "%%S"=="%SERIAL%" set SEEN=1
exit /b

rem One board's result (RESULT, BOARD, WHY): the line, the big word, the
rem running totals; the console turns green, red or yellow until the next wait.
:result
call :now
if "%RESULT%"=="PASS" (
    set /a PASSED+=1
    set "PAD=PASS   "
    color 2F
)
if "%RESULT%"=="FAIL" (
    set /a FAILED+=1
    set "PAD=FAIL   "
    color 4F
)
if "%RESULT%"=="REFUSED" (
    set /a REFUSED+=1
    set "PAD=REFUSED"
    color 6F
)
set "SERIAL=%BOARD%"
if not defined BOARD set "BOARD=????????"
>"%MSGF%" echo %STAMP%  %BOARD%  %PAD%  %WHY%
call :big_%RESULT% >>"%MSGF%"
>>"%MSGF%" echo Totals: %PASSED% passed, %FAILED% failed, %REFUSED% refused. Remove the OB310.
call :say_file
set "MODE=removal"
set ANNOUNCED=0
set TWO=0
exit /b

:big_PASS
echo  ####    ###    ####   ####
echo  #   #  #   #  #      #
echo  ####   #####   ###    ###
echo  #      #   #      #      #
echo  #      #   #  ####   ####
exit /b

:big_FAIL
echo  #####   ###   #####  #
echo  #      #   #    #    #
echo  ####   #####    #    #
echo  #      #   #    #    #
echo  #      #   #  #####  #####
exit /b

:big_REFUSED
echo  ####   #####  #####  #   #   ####  #####  ####
echo  #   #  #      #      #   #  #      #      #   #
echo  ####   ####   ####   #   #   ###   ####   #   #
echo  #  #   #      #      #   #      #  #      #   #
echo  #   #  #####  #       ###   ####   #####  ####
exit /b

rem One line for the operator (MSG, or the lines in MSGF), on the screen and
rem in the report.
:say
>"%MSGF%" echo %MSG%
:say_file
type "%MSGF%"
for /f "usebackq eol=* tokens=1 delims=|" %%R in ("%NAMES%") do type "%MSGF%" >>"%%R"
exit /b

rem Time (without hundredths of a second) and date for the operator's lines.
:now
for /f "eol=* tokens=1 delims=.," %%T in ("%TIME%") do set "STAMP=%%T"
if "%STAMP:~0,1%"==" " set "STAMP=0%STAMP:~1%"
set "DAY=%DATE%"
exit /b

:pause
if %POLL_S% GTR 0 ping -n %POLL_PINGS% 127.0.0.1 >nul
exit /b
