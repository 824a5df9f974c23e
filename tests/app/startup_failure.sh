#!/usr/bin/env bash
# A start-up that cannot show the window: the real program, started where no window can be
# made, must end by itself with exit code 1 and leave the reason in its log, and must not
# abort.
#   startup_failure.sh linux   <build/linux/Kelvad>
#   startup_failure.sh windows <build/windows/Kelvad.exe>   (under Wine, without a display)
set -u
target=$1 program=$2
work=$(mktemp -d /tmp/kelvad-startup-failure.XXXXXX)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/checks.sh"

mkdir -p "$work/bin"
if [ "$target" = windows ]; then
  # Without an X display Wine cannot create the window.
  user_data=$(wine_roaming_folder)
  [ -n "$user_data" ] || { echo "no Wine user data folder in $WINEPREFIX"; exit 1; }
  log=$user_data/Kelvad/Kelvad.log
  rm -f "$log"
  cp "$program" "$work/bin/Kelvad.exe"
  (cd "$work/bin" && exec env -u DISPLAY -u WAYLAND_DISPLAY timeout 120 /usr/lib/wine/wine64 ./Kelvad.exe) \
    >"$work/stdout.log" 2>"$work/stderr.log"
  code=$?
  reason='error: The window could not be created'
else
  export XDG_DATA_HOME=$work/user-data
  log=$XDG_DATA_HOME/Kelvad/Kelvad.log
  cp "$program" "$work/bin/Kelvad"
  (cd "$work/bin" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 60 ./Kelvad) \
    >"$work/stdout.log" 2>"$work/stderr.log"
  code=$?
  reason='error: The window cannot be shown: no display'
fi

check "exit code 1 (was $code)" test "$code" -eq 1
check "the reason is in the log" grep -q $'\t'"$reason" "$log"
if [ "$target" = linux ]; then
  check "the reason is on standard error" grep -q 'no display' "$work/stderr.log"
fi
check "no abort" bash -c "! grep -Eq 'terminate called|Aborted|core dumped' '$work/stderr.log'"

if [ $failures -gt 0 ]; then
  echo "--- log"; cat "$log" 2>/dev/null
  echo "--- standard error"; cat "$work/stderr.log"
fi
echo "$checks checks, $failures failed"
[ $failures -eq 0 ]
