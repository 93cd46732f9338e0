#!/bin/sh
# Appends the five processes that use the most CPU and the five that use the most virtual
# memory, as one top reading shows them, to topstatus.csv in the monitoring folder given as the
# only argument. Reads the device's top (BusyBox): PID PPID USER STAT VSZ %VSZ [CPU] %CPU COMMAND.
# VSZ is written in KiB, whatever unit top chose for it.
folder=$1
if [ -z "$folder" ] || [ ! -d "$folder" ]; then
    echo "usage: $0 MONITORING_FOLDER (an existing folder)" >&2
    exit 1
fi
file=$folder/topstatus.csv
stamp=$(date +%Y-%m-%d,%H:%M:%S)

# One awk pass ranks both orders: no sort or head per order, so the cost stays one top and one
# awk. Ties go by the text of the process's columns, as they always have.
rows=$(top -b -n 1 2>/dev/null | awk -v stamp="$stamp" -v count=5 '
    function rank(order, by,    r, i, best, key, bestkey) {
        for (i = 1; i <= n; i++) taken[i] = 0
        for (r = 1; r <= count && r <= n; r++) {
            best = 0
            for (i = 1; i <= n; i++) {
                if (taken[i]) continue
                key = by == "cpu" ? cpu[i] : kib[i]
                if (!best || key > bestkey || (key == bestkey && tie[i] < tie[best])) {
                    best = i; bestkey = key
                }
            }
            taken[best] = 1
            printf "%s,%s,%d,%s\n", stamp, order, r, row[best]
        }
    }
    $1 ~ /^[0-9]+$/ && $2 ~ /^[0-9]+$/ && NF >= 8 {
        vszpct = 0; cpupct = 0
        for (i = 6; i <= NF; i++) if ($i ~ /^[0-9.]+%$/) { vszpct = i; break }
        for (i = vszpct + 1; vszpct && i <= NF; i++) if ($i ~ /^[0-9.]+%$/) { cpupct = i; break }
        if (!cpupct) next
        vsz = $5; k = vsz + 0
        if (vsz ~ /m$/) k *= 1024; else if (vsz ~ /g$/) k *= 1048576; else if (vsz ~ /t$/) k *= 1073741824
        command = ""
        for (i = cpupct + 1; i <= NF; i++) command = command (command == "" ? "" : " ") $i
        n++
        cpu[n] = $cpupct + 0; kib[n] = k
        tie[n] = cpu[n] "\t" k "\t" $1 "\t" $2 "\t" $3 "\t" $4 "\t" vsz "\t" $vszpct "\t" $cpupct "\t" command
        gsub(/"/, "\"\"", command)
        row[n] = sprintf("%s,%s,%s,%s,%.0f,%s,%s,\"%s\"", $1, $2, $3, $4, k, $vszpct, $cpupct, command)
    }
    END { if (n) { rank("cpu", "cpu"); rank("memory", "kib") } }')
[ -n "$rows" ] || exit 0

# A file left empty by a kill gets its header too; header and rows go out in one write.
[ -s "$file" ] || rows="Date,Time,Order,Rank,PID,PPID,User,State,VSZ,%VSZ,%CPU,Command
$rows"
printf '%s\n' "$rows" >>"$file"
