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

# Every process's full command line, one a line behind its file name, leaving out this
# script's own processes. The same few processes however many the device runs: a camera's CPU
# is shared with video encoding.
command_lines() {
    grep -a -H '' /proc/[0-9]*/cmdline 2>/dev/null | tr '\0' ' ' | grep -v 'plix_status_monitor\.sh'
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
        # A comma in the name would shift the columns.
        while :; do
            case $name in
                *,*) name="${name%%,*} ${name#*,}" ;;
                *) break ;;
            esac
        done
        rows="$rows$stamp,$name,$status
"
    done
fi
[ -n "$rows" ] || rows="$stamp,,unknown
"

# A file left empty by a kill gets its header too; header and rows go out in one write.
[ -s "$file" ] || rows="Date,Time,Application,Status
$rows"
printf '%s' "$rows" >>"$file"
