#!/bin/sh
# A network board's telnet command mode, as the login program of a real telnet server in the
# interop tests. The terminal echoes what is typed; the script asks for the password and then
# answers each line as the board does: ">" to an empty line, ">OK" to a setting or "save",
# ">value" and CR to a query, ">NG" to anything else. Settings are kept for later queries.
l_ip=10.16.77.170 l_pt=3335 f_ip=10.16.77.1 f_pt=10777 mask=24 conn=1 bps=9600 timv=10
keep=1 timr=1 madr=02-5A-C3-00-01-C9
printf 'PASSWORD:'
IFS= read -r pass || exit 0
[ "$pass" = KXW ] || exit 0
while IFS= read -r line; do
    case $line in
    '') printf '>' ;;
    save) printf '>OK' ;;
    l_ip=* | l_pt=* | f_ip=* | f_pt=* | mask=* | conn=* | bps=* | timv=* | keep=* | timr=* | madr=*)
        eval "${line%%=*}=\${line#*=}"
        printf '>OK' ;;
    l_ip | l_pt | f_ip | f_pt | mask | conn | bps | timv | keep | timr | madr)
        eval "printf '>%s\r' \"\$$line\"" ;;
    *) printf '>NG' ;;
    esac
done
