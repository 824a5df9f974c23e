#!/usr/bin/env bash
# Runs the Windows package's install-autostart.cmd and remove-autostart.cmd under Wine, from a
# folder whose name holds blanks and the characters cmd treats specially, with a recording
# stand-in for schtasks first on the PATH. Checks the arguments schtasks receives (the
# program's path must reach the task whole and quoted), the messages and the exit codes.
#
#   autostart_cmd.sh FAKE_SCHTASKS_EXE PACKAGING_WINDOWS_FOLDER
set -euo pipefail

fake=$(realpath -- "$1")
scripts=$(realpath -- "$2")
wine=${WINE:-/usr/lib/wine/wine64}
export WINEDEBUG=${WINEDEBUG:--all}

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvad-autostart.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Neither "%" nor "!": Wine's cmd drops a "%" from %~dp0 and expands again after a delayed
# expansion, which Windows' cmd does not.
folder="$work/Kel vad & (R^D) 1"
mkdir -p "$folder" "$work/stub"
cp "$scripts/install-autostart.cmd" "$scripts/remove-autostart.cmd" "$folder/"
printf 'MZ' >"$folder/Kelvad.exe" # only looked for, never started
cp "$fake" "$work/stub/schtasks.exe"
export WINEPATH="Z:${work//\//\\}\\stub"
export FAKE_SCHTASKS_LOG="Z:${work//\//\\}\\calls.txt"
win_folder="Z:${folder//\//\\}"

checks=0
failures=0
fail() {
  printf 'FAIL %s\n' "$*" >&2
  failures=$((failures + 1))
}
check() { # description, then the command that must succeed
  local what=$1
  shift
  checks=$((checks + 1))
  "$@" || fail "$what"
}

# Runs one script from its folder (cmd /c would strip the quotes of a quoted path with "&"),
# stdin closed; sets out, rc and calls (the recorded schtasks calls), CR LF made LF.
run() {
  rm -f "$work/calls.txt"
  set +e
  (cd "$folder" && timeout 120 "$wine" cmd /c "$@" </dev/null >"$work/out.txt" 2>&1)
  rc=$?
  set -e
  out=$(tr -d '\r' <"$work/out.txt")
  calls=
  [ ! -f "$work/calls.txt" ] || calls=$(tr -d '\r' <"$work/calls.txt")
}
has() { grep -qF -- "$2" <<<"$1"; }

# The user the task runs as, as Wine's cmd names it.
user=$(cd "$work" && "$wine" cmd /c 'echo %USERDOMAIN%\%USERNAME%' </dev/null 2>/dev/null | tr -d '\r')

create_call="/Create
/TN
Kelvad
/TR
\"$win_folder\\Kelvad.exe\"
/SC
ONLOGON
/RU
$user
/IT
/F"

# A first install: no task yet.
FAKE_SCHTASKS_QUERY_EXIT=1 run install-autostart.cmd /nopause
check "install: exit code 0 (was $rc): $out" [ "$rc" -eq 0 ]
check "install: schtasks asked for the task, then made it with the whole quoted path; got:
$calls" [ "$calls" = "/Query
/TN
Kelvad

$create_call" ]
check "install: says how to check the configuration: $out" has "$out" "\"$win_folder\\Kelvad.exe\" --check"
check "install: no replacement without a task: $out" eval '! has "$out" replaced'

# Again over an existing task: it is replaced, and said so.
FAKE_SCHTASKS_QUERY_EXIT=0 run install-autostart.cmd /nopause
check "reinstall: exit code 0 (was $rc)" [ "$rc" -eq 0 ]
check "reinstall: says the task is replaced: $out" has "$out" 'exists already; it is replaced'
check "reinstall: made the task: $calls" has "$calls" "$create_call"

# schtasks refuses (e.g. access denied): exit code 1 and what to do.
FAKE_SCHTASKS_QUERY_EXIT=1 FAKE_SCHTASKS_CREATE_EXIT=1 run install-autostart.cmd /nopause
check "refused install: exit code 1 (was $rc)" [ "$rc" -eq 1 ]
check "refused install: names the cause: $out" has "$out" 'could not make the task "Kelvad"'
check "refused install: does not claim success: $out" eval '! has "$out" "made the task"'

# Started the way Explorer starts it (no /nopause, cmd /c): waits for a key, then ends.
FAKE_SCHTASKS_QUERY_EXIT=1 run install-autostart.cmd
check "install without /nopause: ends with exit code 0 (was $rc): $out" [ "$rc" -eq 0 ]

# Copied away from its program.
mv "$folder/Kelvad.exe" "$work/Kelvad.exe"
run install-autostart.cmd /nopause
check "install without Kelvad.exe: exit code 2 (was $rc)" [ "$rc" -eq 2 ]
check "install without Kelvad.exe: names the missing file: $out" has "$out" "\"$win_folder\\Kelvad.exe\" does not exist"
check "install without Kelvad.exe: no schtasks call: $calls" [ -z "$calls" ]
mv "$work/Kelvad.exe" "$folder/Kelvad.exe"

# Removing: the task exists; it does not; schtasks refuses.
FAKE_SCHTASKS_QUERY_EXIT=0 run remove-autostart.cmd /nopause
check "remove: exit code 0 (was $rc)" [ "$rc" -eq 0 ]
check "remove: deleted the task: $calls" has "$calls" "/Delete
/TN
Kelvad
/F"
check "remove: says so: $out" has "$out" 'removed the task "Kelvad"'

FAKE_SCHTASKS_QUERY_EXIT=1 run remove-autostart.cmd /nopause
check "remove without task: exit code 0 (was $rc)" [ "$rc" -eq 0 ]
check "remove without task: deletes nothing: $calls" eval '! has "$calls" /Delete'
check "remove without task: says there is nothing to do: $out" has "$out" 'nothing to remove'

FAKE_SCHTASKS_QUERY_EXIT=0 FAKE_SCHTASKS_DELETE_EXIT=1 run remove-autostart.cmd /nopause
check "refused remove: exit code 1 (was $rc)" [ "$rc" -eq 1 ]
check "refused remove: names the cause: $out" has "$out" 'could not remove the task "Kelvad"'

# Batch files with LF alone are misread by cmd at labels and line continuations.
for f in install-autostart.cmd remove-autostart.cmd; do
  check "$f: every line ends in CR LF" eval "! grep -q \$'[^\\r]\$' \"\$scripts/$f\""
done

printf 'autostart scripts: %d of %d checks passed\n' $((checks - failures)) "$checks"
[ "$failures" -eq 0 ]
