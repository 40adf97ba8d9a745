#!/usr/bin/env bash
# Builds the Debian package from BUILD_DIR, installs it, checks that the
# installed pelmora on the PATH shows its logo, connects and loads a file,
# then removes the package and checks that nothing it installed is left.
# It changes the system's packages, so it refuses to run where pelmora is
# already installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: check-package.sh BUILD_DIR}
fail() { echo "check-package: $*" >&2; exit 1; }
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)

dpkg-query -W -f='${Status}' pelmora 2>/dev/null | grep -q 'install ok installed' &&
    fail "pelmora is already installed here; not touching it"

(cd "$build" && cpack -G DEB >/dev/null)
deb="$build/package/pelmora_1.00.0011_amd64.deb"
[ -f "$deb" ] || fail "no package at $deb"
[ "$(dpkg-deb -f "$deb" Version)" = "1.00.0011" ] || fail "package version is not 1.00.0011"

"${sudo[@]}" dpkg -i "$deb" >/dev/null
installed=$(dpkg -L pelmora)
trap '"${sudo[@]}" dpkg -r pelmora >/dev/null 2>&1 || true' EXIT
[ "$(command -v pelmora)" = /usr/bin/pelmora ] || fail "pelmora is not on the PATH"
"$here/check-install.sh" --program "$(command -v pelmora)"

"${sudo[@]}" dpkg -r pelmora >/dev/null
trap - EXIT
left=()
while IFS= read -r path; do
    # Folders the system shares (/usr, /usr/share/...) stay; anything of ours must go.
    if [ -f "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
    case "$path" in */pelmora) [ -d "$path" ] && left+=("$path") ;; esac
done <<<"$installed"
[ ${#left[@]} -eq 0 ] || fail "left behind after removal: ${left[*]}"
echo "check-package: $(basename "$deb") installs, runs from the PATH and removes cleanly ($(grep -c . <<<"$installed") paths)"
