#!/usr/bin/env bash
# Keeps the layers pointing down: each folder may include only from itself and the folders
# below it, and the widget-free core links no Qt Gui or Widgets.
#   link/, records/   the core: each other only
#   ui/               the core and itself
#   shell/            the core, ui/ and itself
#   acquire/          the core and itself (the command-line program: no widgets)
# Fails, naming each include that reaches up, on the first wrong step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

failed=0
check() { # folder, the folders it may not include from
    local folder=$1
    shift
    local pattern
    pattern=$(printf '|%s/' "$@")
    pattern="#include [\"<](${pattern:1})"
    if grep -rnE "$pattern" "$folder" --include='*.h' --include='*.cpp'; then
        echo "check-layers: $folder/ reaches up into $* (above)" >&2
        failed=1
    fi
}
check link ui shell acquire tests tools bench
check records ui shell acquire tests tools bench
check ui shell acquire tests tools bench
check shell acquire tests tools bench
check acquire ui shell tests tools bench

# The core, and the command-line program on it, build with Qt Core alone.
if grep -nE 'Qt6?::(Gui|Widgets)|Qt6?(Gui|Widgets)' link/CMakeLists.txt records/CMakeLists.txt \
    acquire/CMakeLists.txt; then
    echo "check-layers: the core or qm6200-acquire links Qt Gui or Widgets (above)" >&2
    failed=1
fi
if grep -rnE '#include <Qt(Gui|Widgets)|#include <Q(Widget|Application|Font|Color|Palette|Pixmap|Image|Painter)\b' \
    link records acquire --include='*.h' --include='*.cpp'; then
    echo "check-layers: the core or qm6200-acquire includes Qt Gui or Widgets headers (above)" >&2
    failed=1
fi

# Qt Serial Port belongs to its backend alone: the programs link it only when built on it.
if grep -rnE '#include <(QSerialPort|QtSerialPort)' link records ui shell acquire \
    --include='*.h' --include='*.cpp' | grep -v '^link/qtserial/'; then
    echo "check-layers: Qt Serial Port used outside link/qtserial/ (above)" >&2
    failed=1
fi

[ "$failed" -eq 0 ] && echo "check-layers: every layer points down"
exit "$failed"
