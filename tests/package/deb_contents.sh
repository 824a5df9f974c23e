#!/usr/bin/env bash
# Checks a built Debian package of Kelvad without installing it: its control fields (version
# from CMakeLists.txt, the Qt libraries and the offscreen plugin's package in Depends), the
# files and their modes, the conffiles, the systemd unit, and that installing starts nothing.
#
#   deb_contents.sh PACKAGE.deb
set -euo pipefail

deb=$1
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ -f "$deb" ] || {
  echo "deb_contents: $deb does not exist" >&2
  exit 1
}

checks=0
failures=0
check() { # description, then the command that must succeed
  local what=$1
  shift
  checks=$((checks + 1))
  "$@" || {
    printf 'FAIL %s\n' "$what" >&2
    failures=$((failures + 1))
  }
}
has() { grep -qE -- "$2" <<<"$1"; }
lacks() { ! grep -qE -- "$2" <<<"$1"; }

version=$(sed -n 's/^project(Kelvad VERSION \([0-9][0-9.]*\)[ )].*/\1/p' "$repo/CMakeLists.txt")
field() { dpkg-deb -f "$deb" "$1"; }
check "Package is kelvad: $(field Package)" [ "$(field Package)" = kelvad ]
check "Version is the project's $version: $(field Version)" [ "$(field Version)" = "$version" ]
check "file name kelvad_${version}_$(field Architecture).deb: $(basename "$deb")" \
  [ "$(basename "$deb")" = "kelvad_${version}_$(field Architecture).deb" ]

depends=$(field Depends)
names() { # list, package: the package stands in the list, alone or with a version
  local quoted
  quoted=$(sed 's/[.+]/\\&/g' <<<"$2")
  has "$1" "(^|, )$quoted( |,|$)"
}
for package in libqt6core6 libqt6gui6 libqt6widgets6 libc6 libstdc++6 passwd; do
  check "Depends names $package: $depends" names "$depends" "$package"
done
# The service runs headless: the package holding the offscreen platform plugin must come too.
plugin=$(compgen -G '/usr/lib/*/qt6/plugins/platforms/libqoffscreen.so' | head -n 1 || true)
if [ -n "$plugin" ]; then
  plugin_package=$(dpkg -S "$plugin" | sed -n '1s/:.*//p')
  check "Depends names $plugin_package (offscreen plugin): $depends" \
    names "$depends" "$plugin_package"
fi

# Modes and owners as dpkg-deb lists them: "-rwxr-xr-x root/root ... ./opt/kelvad/Kelvad".
contents=$(dpkg-deb -c "$deb" | awk '{print $1, $2, $6}')
for entry in \
  '-rwxr-xr-x root/root ./opt/kelvad/Kelvad' \
  '-rw-r--r-- root/root ./opt/kelvad/orvel_scanner.ini' \
  '-rw-r--r-- root/root ./opt/kelvad/orvel_path.ini' \
  '-rw-r--r-- root/root ./lib/systemd/system/kelvad.service'; do
  check "contains $entry" grep -qxF -- "$entry" <<<"$contents"
done
# Nothing else than these files and their folders: a stray build file would land on the plant PC.
strays=$(awk '$1 !~ /^d/ {print $3}' <<<"$contents" | grep -vxE '\./opt/kelvad/(Kelvad|orvel_scanner\.ini|orvel_path\.ini)|\./lib/systemd/system/kelvad\.service' || true)
check "no other files: $strays" [ -z "$strays" ]

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvad-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
dpkg-deb -e "$deb" "$work/DEBIAN"
dpkg-deb -x "$deb" "$work/root"

check "conffiles are the two configuration files beside the program: $(cat "$work/DEBIAN/conffiles")" \
  [ "$(cat "$work/DEBIAN/conffiles")" = $'/opt/kelvad/orvel_scanner.ini\n/opt/kelvad/orvel_path.ini' ]
# Configuration read by line number: at least the two lines without which nothing is scanned.
check "orvel_scanner.ini has at least 2 lines" [ "$(wc -l <"$work/root/opt/kelvad/orvel_scanner.ini")" -ge 2 ]
check "orvel_path.ini names a folder" grep -q '^/' "$work/root/opt/kelvad/orvel_path.ini"
check "the program is an ELF executable" [ "$(head -c 4 "$work/root/opt/kelvad/Kelvad")" = $'\x7fELF' ]

for script in postinst prerm postrm; do
  check "$script is executable" [ -x "$work/DEBIAN/$script" ]
  check "$script is valid sh" sh -n "$work/DEBIAN/$script"
done
maintainer_scripts=$(cat "$work/DEBIAN/postinst" "$work/DEBIAN/prerm" "$work/DEBIAN/postrm" |
  grep -v '^[[:space:]]*#')
check "installing enables or starts nothing" \
  lacks "$maintainer_scripts" '(systemctl|deb-systemd-invoke|deb-systemd-helper) +(--[a-z-]+ +)*(enable|start|restart|reenable)'
check "postinst makes the account kelvad" has "$(cat "$work/DEBIAN/postinst")" 'useradd .*kelvad|adduser .*kelvad'

unit=$(cat "$work/root/lib/systemd/system/kelvad.service")
for line in 'User=kelvad' 'ExecStart=/opt/kelvad/Kelvad' 'Environment=QT_QPA_PLATFORM=offscreen' \
  'Restart=on-failure' 'KillSignal=SIGTERM' 'WantedBy=multi-user.target'; do
  check "unit has $line" grep -qxF -- "$line" <<<"$unit"
done
# systemd's own reading of the unit (unknown keys, bad values), with the program where this
# unpacked copy has it.
if command -v systemd-analyze >/dev/null; then
  sed "s|^ExecStart=/opt/kelvad/|ExecStart=$work/root/opt/kelvad/|" <<<"$unit" >"$work/kelvad.service"
  verify=$(systemd-analyze verify "$work/kelvad.service" 2>&1 || true)
  check "systemd-analyze verify finds nothing: $verify" [ -z "$verify" ]
fi

printf 'deb package: %d of %d checks passed\n' $((checks - failures)) "$checks"
[ "$failures" -eq 0 ]
