#!/bin/sh
# Appends the status of every application installed on the device's application platform to
# plix_status.csv in the monitoring folder given as the only argument: running while a process
# runs from the application's folder, stopped otherwise, and a single "unknown" row on a device
# without the application platform.
folder=$1
if [ -z "$folder" ] || [ ! -d "$folder" ]; then
    echo "usage: $0 MONITORING_FOLDER (an existing folder)" >&2
    exit 1
fi
packages=/usr/local/packages
file=$folder/plix_status.csv
stamp=$(date +%Y-%m-%d,%H:%M:%S)

# Every process's full command line, one a line, leaving out this script's own processes.
command_lines() {
    for process in /proc/[0-9]*; do
        tr '\0' ' ' 2>/dev/null <"$process/cmdline" && echo
    done | grep -v 'plix_status_monitor\.sh'
}

rows=""
if [ -d "$packages" ]; then
    running=$(command_lines)
    for app in "$packages"/*/; do
        [ -d "$app" ] || continue
        name=${app%/}
        name=${name##*/}
        status=stopped
        case $running in
            *"$packages/$name/"*) status=running ;;
        esac
        rows="$rows$stamp,$(printf '%s' "$name" | tr ',' ' '),$status
"
    done
fi
[ -n "$rows" ] || rows="$stamp,,unknown
"

if [ ! -f "$file" ]; then
    printf '%s\n' "Date,Time,Application,Status" >>"$file" || exit 1
fi
printf '%s' "$rows" >>"$file"
