#!/usr/bin/env bash
# Fails when the program's layers are broken:
# - a source folder includes from a folder above its own layer. Layers, bottom up: core; board
#   and dialogs; the ledger and the labels; the links serial, telnet and reader; the command
#   runner; app and cli on top. The dialogs serve the window alone: nothing but app includes them.
# - a folder below the window (core, board, ledger, label, the links, runner) includes a header
#   of QtGui or QtWidgets;
# - the built netboard-cli needs libQt6Gui or libQt6Widgets, or loads at its start a library
#   that only some runs need: QtNetwork, libpq, libsqlite3 (the window is built on the same
#   library below it).
#
# usage: layers.sh SOURCE_DIR QT_HEADERS_DIR NETBOARD_CLI
set -euo pipefail
src="$1/src"
qt="$2"
cli="$3"
status=0
fail() {
    echo "$*" >&2
    status=1
}

# Includes of this program's own folders.
declare -A allowed=(
    [core]="core"
    [board]="core board"
    [dialogs]="core board dialogs"
    [ledger]="core board ledger"
    [label]="core board label"
    [serial]="core board serial"
    [telnet]="core board telnet"
    [reader]="core board reader"
    [runner]="core board ledger label serial telnet reader runner"
    [cli]="core board ledger label serial telnet reader runner cli"
)
for dir in "${!allowed[@]}"; do
    while IFS=: read -r file line inc; do
        folder=$(sed -E 's/#include "([a-z]+)\/.*/\1/' <<<"$inc")
        if [[ " ${allowed[$dir]} " != *" $folder "* ]]; then
            fail "$file:$line: $dir may not include $folder/"
        fi
    done < <(grep -rnE '^#include "[a-z]+/' "$src/$dir" || true)
done
# Any other folder is held to the same rule for the dialogs.
while IFS=: read -r file line _; do
    fail "$file:$line: only app may include dialogs/"
done < <(grep -rnE '^#include "dialogs/' "$src" --exclude-dir=app --exclude-dir=dialogs || true)

# No QtGui or QtWidgets header below the window.
if [[ ! -d "$qt/QtGui" || ! -d "$qt/QtWidgets" ]]; then
    fail "no QtGui and QtWidgets headers in $qt"
fi
for dir in core board ledger label serial telnet reader runner; do
    while IFS=: read -r file line inc; do
        header=$(sed -E 's/#include <([^>]+)>.*/\1/' <<<"$inc")
        name=${header#*/}
        module=${header%%/*}
        if [[ "$module" == QtGui || "$module" == QtWidgets || -e "$qt/QtGui/$name" ||
            -e "$qt/QtWidgets/$name" ]]; then
            fail "$file:$line: $dir may not include <$header> (QtGui or QtWidgets)"
        fi
    done < <(grep -rnE '^#include <[^>]+>' "$src/$dir" || true)
done

# netboard-cli runs without QtGui and QtWidgets, and starts without the libraries of a few runs.
if ! libs=$(ldd "$cli" 2>&1) || [[ "$libs" != *libQt6Core* ]]; then
    fail "cannot list the libraries of $cli: $libs"
elif grep -E 'libQt6(Gui|Widgets)' <<<"$libs" >&2; then
    fail "$cli needs QtGui or QtWidgets"
elif grep -E 'libQt6Network|libpq\.|libsqlite3' <<<"$libs" >&2; then
    fail "$cli loads at its start a library that only some runs need"
fi
exit $status
