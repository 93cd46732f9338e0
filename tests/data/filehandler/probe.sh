#!/bin/sh
printf 'started %s\n' "$1" >> "$1/probe.log"
