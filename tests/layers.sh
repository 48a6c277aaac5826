#!/usr/bin/env bash
# Fails when a source folder includes from a folder above its own layer. Layers, bottom up:
# core; board and dialogs; the ledger; the links serial, telnet and reader; the command runner;
# app and cli on top.
set -euo pipefail
src="$1/src"
declare -A allowed=(
    [core]="core"
    [board]="core board"
    [dialogs]="core board dialogs"
    [serial]="core board dialogs serial"
    [telnet]="core board dialogs telnet"
    [reader]="core board dialogs reader"
    [ledger]="core board ledger"
    [runner]="core board ledger serial telnet reader runner"
    [cli]="core board dialogs ledger serial telnet reader runner cli"
)
status=0
for dir in "${!allowed[@]}"; do
    while IFS=: read -r file line inc; do
        folder=$(sed -E 's/#include "([a-z]+)\/.*/\1/' <<<"$inc")
        if [[ " ${allowed[$dir]} " != *" $folder "* ]]; then
            echo "$file:$line: $dir may not include $folder/" >&2
            status=1
        fi
    done < <(grep -rnE '^#include "[a-z]+/' "$src/$dir" || true)
done
exit $status
