#!/bin/sh
# Appends one sample of the kernel's virtual-memory counters to vmstatus.csv in the monitoring
# folder given as the only argument. Counters this kernel lacks stay empty, so the columns keep
# their meaning across kernel versions.
folder=$1
if [ -z "$folder" ] || [ ! -d "$folder" ]; then
    echo "usage: $0 MONITORING_FOLDER (an existing folder)" >&2
    exit 1
fi
source=/proc/vmstat
[ -r "$source" ] || exit 1

counters="nr_free_pages nr_inactive_anon nr_active_anon nr_inactive_file nr_active_file
nr_unevictable nr_mlock nr_anon_pages nr_mapped nr_file_pages nr_dirty nr_writeback nr_shmem
nr_slab_reclaimable nr_slab_unreclaimable nr_page_table_pages nr_kernel_stack pgpgin pgpgout
pswpin pswpout pgfault pgmajfault pgfree pgsteal_kswapd pgsteal_direct pgscan_kswapd
pgscan_direct allocstall_normal compact_stall oom_kill"

file=$folder/vmstatus.csv
stamp=$(date +%Y-%m-%d,%H:%M:%S)
row=$(awk -v counters="$counters" -v stamp="$stamp" '
    { value[$1] = $2 }
    END {
        n = split(counters, name, /[ \n]+/)
        line = stamp
        for (i = 1; i <= n; i++) line = line "," ((name[i] in value) ? value[name[i]] : "")
        print line
    }' "$source") || exit 1

# A file left empty by a kill gets its header too; header and row go out in one write.
if [ ! -s "$file" ]; then
    header="Date,Time"
    for name in $counters; do header="$header,$name"; done
    row="$header
$row"
fi
printf '%s\n' "$row" >>"$file"
