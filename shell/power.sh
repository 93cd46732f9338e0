#!/bin/sh
# Appends the power draw that the device reports through its hardware monitors and power
# supplies to power.csv in the monitoring folder given as the only argument, one row per
# source, in watts. A device that reports no power draw gets no file.
folder=$1
if [ -z "$folder" ] || [ ! -d "$folder" ]; then
    echo "usage: $0 MONITORING_FOLDER (an existing folder)" >&2
    exit 1
fi
file=$folder/power.csv
stamp=$(date +%Y-%m-%d,%H:%M:%S)
rows=""

# Both interfaces give microwatts.
add_row() { # source-name microwatts
    case $2 in
        '' | *[!0-9]*) return ;;
    esac
    rows="$rows$(awk -v s="$stamp" -v n="$1" -v uw="$2" 'BEGIN { printf "%s,%s,%.3f", s, n, uw / 1000000 }')
"
}

for input in /sys/class/hwmon/hwmon*/power*_input /sys/class/hwmon/hwmon*/device/power*_input; do
    [ -r "$input" ] || continue
    dir=${input%/*}
    sensor=${input##*/}
    sensor=${sensor%_input}
    name=$(cat "$dir/name" 2>/dev/null) || name=${dir##*/}
    [ -r "$dir/${sensor}_label" ] && name="$name $(cat "$dir/${sensor}_label")"
    add_row "$(printf '%s' "$name $sensor" | tr ',' ' ')" "$(cat "$input" 2>/dev/null)"
done
for input in /sys/class/power_supply/*/power_now; do
    [ -r "$input" ] || continue
    supply=${input%/power_now}
    add_row "$(printf '%s' "${supply##*/}" | tr ',' ' ')" "$(cat "$input" 2>/dev/null)"
done
[ -n "$rows" ] || exit 0

# A file left empty by a kill gets its header too; header and rows go out in one write.
[ -s "$file" ] || rows="Date,Time,Source,Power (W)
$rows"
printf '%s' "$rows" >>"$file"
