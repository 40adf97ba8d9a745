#!/usr/bin/env bash
# The window-free libraries compile from libs/ alone: no source of theirs
# sees the window's folder on its include path.
set -euo pipefail
src=$1 commands=$2
awk -v app="-I$src/app" '
  /"command":/ { cmd = $0 }
  /"file":/ && index($0, "/libs/") {
    seen++
    if (index(cmd, app " ") || index(cmd, app "/") || index(cmd, app "\"")) { print "window folder on the include path of " $0; bad++ }
  }
  END { if (!seen) { print "no library sources found"; exit 1 } exit bad > 0 }
' "$commands"
echo "libs/: $(grep -c '"file": ".*/libs/' "$commands") sources, none with app/ on the include path"
