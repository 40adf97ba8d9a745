#!/usr/bin/env bash
# Builds the Debian packages from BUILD_DIR and judges them: lintian must
# report no error and no warning (overrides, each with its reason, travel in
# the package), the AppStream metadata and the desktop entry must validate,
# and appstreamcli compose must take the package, icon included.
# Then it installs them, reads both manual pages with man, checks that the
# installed pelmora on the PATH shows its logo, connects and loads a file,
# removes the packages and checks that nothing they installed is left.
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

cpack_log=$(cd "$build" && cpack -G DEB 2>&1) || fail "cpack: $cpack_log"
deb="$build/package/pelmora_1.00.0011_amd64.deb"
dbgsym="$build/package/pelmora-dbgsym_1.00.0011_amd64.ddeb"
[ -f "$deb" ] || fail "no package at $deb"
[ -f "$dbgsym" ] || fail "no debug symbols package at $dbgsym"
[ "$(dpkg-deb -f "$deb" Version)" = "1.00.0011" ] || fail "package version is not 1.00.0011"

status=0
findings=$(lintian --fail-on error,warning "$deb" "$dbgsym" 2>&1) || status=$?
# Run as root, lintian says it would rather not be; that is no finding.
findings=$(grep -v '^running with root privileges' <<<"$findings" || true)
[ "$status" -eq 0 ] && ! grep -qE '^[EW]: ' <<<"$findings" || fail "lintian:
$findings"

contents=$(mktemp -d)
catalog=$(mktemp -d)
trap 'rm -rf "$contents" "$catalog"' EXIT
dpkg-deb -x "$deb" "$contents"
desktop-file-validate "$contents/usr/share/applications/pelmora.desktop"
# The metainfo files and the desktop entries they name, together.
report=$(appstreamcli validate-tree --no-net "$contents" 2>&1) || fail "AppStream metadata: $report"
# What a software centre's catalog is built with: it must take the component
# and an icon of at least 64 px for it.
report=$(appstreamcli compose --no-net --no-color --origin=pelmora --result-root="$catalog" "$contents" 2>&1) ||
    fail "appstreamcli compose: $report"
zcat "$catalog/usr/share/swcatalog/xml/pelmora.xml.gz" | grep -q '<icon type="cached" width="64" height="64">' ||
    fail "appstreamcli compose made no 64 px icon: $report"
[ -f "$contents/usr/share/doc/pelmora/README.md.gz" ] || fail "the README is not in the package"
[ -f "$contents/usr/share/doc/pelmora/docs/troubleshooting.md.gz" ] || fail "the manual is not in the package"

"${sudo[@]}" dpkg -i "$deb" "$dbgsym" >/dev/null
installed=$(dpkg -L pelmora pelmora-dbgsym)
trap 'rm -rf "$contents" "$catalog"; "${sudo[@]}" dpkg -r pelmora-dbgsym pelmora >/dev/null 2>&1 || true' EXIT
for page in "pelmora - load label files" "pelmora-load - load a label file into Zelkor RV7k devices" "rv7k-emulator - stand-in for a Zelkor RV7k device" \
            "pelmora-ledger - list, export, sum up, report and verify the records of loaded units" \
            "pelmora-station - load every unit placed in a fixture with a recipe of labels"; do
    name=${page%% *}
    man -w "$name" >/dev/null 2>&1 ||
        fail "man finds no page for $name$(grep -qs 'path-exclude=*/usr/share/man' /etc/dpkg/dpkg.cfg.d/* &&
            echo ' (dpkg here is set to leave manual pages out: /etc/dpkg/dpkg.cfg.d)')"
    LC_ALL=C MANPAGER=cat MANWIDTH=200 man "$name" 2>/dev/null | grep -qF "$page" ||
        fail "man $name does not show its page"
done
[ "$(command -v pelmora)" = /usr/bin/pelmora ] || fail "pelmora is not on the PATH"
[ "$(command -v pelmora-load)" = /usr/bin/pelmora-load ] || fail "pelmora-load is not on the PATH"
[ "$(command -v pelmora-ledger)" = /usr/bin/pelmora-ledger ] || fail "pelmora-ledger is not on the PATH"
[ "$(command -v pelmora-station)" = /usr/bin/pelmora-station ] || fail "pelmora-station is not on the PATH"
"$here/check-install.sh" --program "$(command -v pelmora)"

"${sudo[@]}" dpkg -r pelmora-dbgsym pelmora >/dev/null
trap 'rm -rf "$contents" "$catalog"' EXIT
left=()
while IFS= read -r path; do
    # Folders the system shares (/usr, /usr/share/...) stay; anything of ours must go.
    if [ -f "$path" ] || [ -L "$path" ]; then left+=("$path"); fi
    case "$path" in */pelmora | */pelmora-dbgsym) [ -d "$path" ] && left+=("$path") ;; esac
done <<<"$installed"
[ ${#left[@]} -eq 0 ] || fail "left behind after removal: ${left[*]}"
echo "check-package: $(basename "$deb") and its debug symbols are lintian clean, install, show their manual pages, run from the PATH and remove cleanly ($(grep -c . <<<"$installed") paths)"
