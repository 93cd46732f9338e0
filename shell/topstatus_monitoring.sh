#!/bin/sh
# Appends the five processes that use the most CPU and the five that use the most virtual
# memory, as one top reading shows them, to topstatus.csv in the monitoring folder given as the
# only argument. Reads the device's top (BusyBox): PID PPID USER STAT VSZ %VSZ [CPU] %CPU COMMAND.
folder=$1
if [ -z "$folder" ] || [ ! -d "$folder" ]; then
    echo "usage: $0 MONITORING_FOLDER (an existing folder)" >&2
    exit 1
fi
count=5
file=$folder/topstatus.csv
stamp=$(date +%Y-%m-%d,%H:%M:%S)
tab=$(printf '\t')

# One tab-separated line per process: %CPU, VSZ in KiB, then the columns as top shows them.
processes=$(top -b -n 1 2>/dev/null | awk -v OFS='\t' '
    $1 ~ /^[0-9]+$/ && $2 ~ /^[0-9]+$/ && NF >= 8 {
        vszpct = 0; cpupct = 0
        for (i = 6; i <= NF; i++) if ($i ~ /^[0-9.]+%$/) { vszpct = i; break }
        for (i = vszpct + 1; vszpct && i <= NF; i++) if ($i ~ /^[0-9.]+%$/) { cpupct = i; break }
        if (!cpupct) next
        vsz = $5; kib = vsz + 0
        if (vsz ~ /m$/) kib *= 1024; else if (vsz ~ /g$/) kib *= 1048576; else if (vsz ~ /t$/) kib *= 1073741824
        command = ""
        for (i = cpupct + 1; i <= NF; i++) command = command (command == "" ? "" : " ") $i
        print $cpupct + 0, kib, $1, $2, $3, $4, vsz, $vszpct, $cpupct, command
    }')
[ -n "$processes" ] || exit 0

rank() {
    printf '%s\n' "$processes" | sort -t "$tab" -k "$2,$2nr" | head -n "$count" |
        awk -F '\t' -v stamp="$stamp" -v order="$1" '{
            gsub(/"/, "\"\"", $10)
            printf "%s,%s,%d,%s,%s,%s,%s,%s,%s,%s,\"%s\"\n", stamp, order, NR, $3, $4, $5, $6, $7, $8, $9, $10
        }'
}
rows=$(rank cpu 1; rank memory 2)

if [ ! -f "$file" ]; then
    printf '%s\n' "Date,Time,Order,Rank,PID,PPID,User,State,VSZ,%VSZ,%CPU,Command" >>"$file" || exit 1
fi
printf '%s\n' "$rows" >>"$file"
