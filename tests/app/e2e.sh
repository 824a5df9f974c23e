#!/usr/bin/env bash
# End to end: the real program in a sandbox with its configuration beside it, an ORVEL tree, a
# device map and a transfer folder that receives result files while it runs.
#   e2e.sh linux   <build/linux/Kelvad>       <samples folder>
#   e2e.sh windows <build/windows/Kelvad.exe> <samples folder>   (under Wine, needs DISPLAY)
set -u
target=$1 program=$2 samples=$3
work=$(mktemp -d /tmp/kelvad-e2e.XXXXXX)
pid=
source "$(dirname "$0")/checks.sh"

cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# Paths as the program sees them.
if [ "$target" = windows ]; then
  native() { printf 'Z:%s' "${1//\//\\}"; }
  wine=/usr/lib/wine/wine64
  user_data=$(wine_roaming_folder)
  [ -n "$user_data" ] || { echo "no Wine user data folder in $WINEPREFIX"; exit 1; }
  user_data=$user_data/Kelvad
  exe=Kelvad.exe
else
  native() { printf '%s' "$1"; }
  export XDG_DATA_HOME=$work/user-data
  user_data=$XDG_DATA_HOME/Kelvad
  exe=Kelvad
fi
crlf() { printf '%s\r\n' "$@"; }

orvel=$work/orvel
mkdir -p "$work/bin" "$work/in" "$orvel/database/current_product" "$orvel/archive" \
         "$orvel/database/products/Production/measurements/BE/new" \
         "$orvel/database/products/Production/measurements/NGQ_A/new"
touch "$orvel/database/current_product/Production"
cp "$program" "$work/bin/$exe"
crlf "$(native "$work/in")" BE "" 1 125 "" "" "" "line 9" 0 "line 11" true > "$work/bin/orvel_scanner.ini"
crlf "$(native "$orvel")" > "$work/bin/orvel_path.ini"
rm -rf "$user_data"
log=$user_data/Kelvad.log

# The commands that answer without a window (no display needed on Linux).
run_command() {  # run_command <argument> [wrapper...]: sets out and code
  local argument=$1
  shift
  if [ "$target" = windows ]; then
    (cd "$work/bin" && exec "$@" "$wine" "./$exe" "$argument") >"$work/command.out" 2>&1
  else
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" "$work/bin/$exe" "$argument" >"$work/command.out" 2>&1
  fi
  code=$?
  out=$(tr -d '\r' <"$work/command.out")
}
run_command --version
version=$out
check "--version prints the version (\"$version\")" bash -c '[[ $0 =~ ^Kelvad\ [0-9]+\.[0-9]+\.[0-9]+$ ]]' "$version"

# check_case <description> <exit code> <line the report holds> [wrapper...]
check_case() {
  local what=$1 expected=$2 line=$3
  shift 3
  run_command --check "$@"
  check "--check $what: exit code $expected (was $code)" test "$code" -eq "$expected"
  check "--check $what: \"$line\"" grep -qF -- "$line" <<<"$out"
  [ "$code" -eq "$expected" ] || echo "$out"
}
away() { mv "$1" "$1.away"; }
back() { mv "$1.away" "$1"; }
new=$orvel/database/products/Production/measurements
check_case "complete" 0 "Kelvad would convert result files now."
check "--check makes no per-user folder" test ! -e "$user_data"
check "--check leaves no probe file" test -z "$(ls -A "$work/in" | grep -v '^Kelvad.lock$')"
check "--check leaves orvel_scanner.ini as it was" \
  test "$(crlf "$(native "$work/in")" BE "" 1 125 "" "" "" "line 9" 0 "line 11" true | od -c)" = "$(od -c < "$work/bin/orvel_scanner.ini")"
for folder in "$work/in:transfer folder" "$orvel:ORVEL folder" \
              "$orvel/database/current_product:current product marker" "$new/BE/new:BE folder"; do
  path=${folder%%:*} name=${folder#*:}
  away "$path"
  check_case "without its $name" 1 "FAIL  $name"
  back "$path"
done
mkdir -p "$user_data"
cp "$samples/device_map_new.bin" "$user_data/device_map.bin"
check_case "with an alias without its folder" 1 "FAIL  device 5 alias NGQ_B: $(native "$new/NGQ_B/new") does not exist"
rm -f "$user_data/device_map.bin"
if [ "$target" = linux ]; then
  # The transfer folder this account may not write; root writes anywhere, so the check then
  # runs as nobody.
  chmod 555 "$work/in"
  if [ "$(id -u)" -eq 0 ]; then
    chmod 755 "$work"
    check_case "with a transfer folder it may not write" 1 "exists, readable, not writable" \
      setpriv --reuid=65534 --regid=65534 --clear-groups
    chmod 700 "$work"
  else
    check_case "with a transfer folder it may not write" 1 "exists, readable, not writable"
  fi
  chmod 755 "$work/in"
else
  echo "skip  --check with a transfer folder it may not write: Wine runs as root here (the core check is tested with a failing write)"
fi
cp "$samples/device_map_new.bin" "$user_data/device_map.bin"

# The health line every 2 s instead of every hour.
export KELVAD_HEALTH_INTERVAL_S=2
if [ "$target" = windows ]; then
  (cd "$work/bin" && exec "$wine" "./$exe") >"$work/stdout.log" 2>&1 &
  startup=30
else
  QT_QPA_PLATFORM=offscreen "$work/bin/$exe" >"$work/stdout.log" 2>&1 &
  startup=6
fi
pid=$!
started=$SECONDS
alive=$orvel/live_signals/Kelvad.alv
check "alive file in place within $startup s of the start" wait_for "$startup" test -f "$alive"
echo "      (after $((SECONDS - started)) s)"
check "alive file is empty" test ! -s "$alive"
check "device map listed in the log" grep -q $'\t3   NGQ_A' "$log"
check "first log line: version, program and folders" \
  grep -qF "$version started: program $(native "$work/bin/$exe"), configuration folder $(native "$work/bin")" <(head -n 1 "$log")
check "first log line: transfer folder" grep -qF "transfer folder $(native "$work/in")" <(head -n 1 "$log")
check_case "while another Kelvad serves the folder" 1 "FAIL  lock $(native "$work/in")"

# Result files arrive while the program runs.
cp "$samples/ONGQR_sample.csv" "$work/in/"
cp "$samples/O3PR_sample.csv" "$work/in/"
echo "anything" > "$work/in/unknown.csv"
head -n 20 "$samples/ONGQR_sample.csv" > "$work/in/ONGQR_cut.csv"
no_csv_left() { ! ls "$work/in/"*.csv >/dev/null 2>&1; }
check "transfer folder emptied" wait_for 30 no_csv_left

check "scan file byte for byte" cmp -s "$new/BE/new/TRV_0001.scn" "$samples/TRV_0001.scn"
check "xy file byte for byte" cmp -s "$new/NGQ_A/new/A123___T.xy" "$samples/A123___T.xy"
archived=$(find "$orvel/archive" -name ONGQR_sample.csv | head -n 1)
check "archive copy under product/year/month/day/BE" \
  test "${archived#$orvel/archive/Production/}" != "$archived" -a "$(basename "$(dirname "$archived")")" = BE
check "archive copy unchanged" cmp -s "$archived" "$samples/ONGQR_sample.csv"
check "truncated traverse kept in failed" cmp -s "$work/in/failed/ONGQR_cut.csv" <(head -n 20 "$samples/ONGQR_sample.csv")
for line in "Processed ONGQ result: ONGQR_sample.csv" "Processed O3P result: O3PR_sample.csv" \
            "Unknown file type: unknown.csv" "Deleted: O3PR_sample.csv"; do
  check "log: $line" wait_for 5 grep -q $'\t'"$line"$'\r\\?$' "$log"
done

rm -f "$alive"
check "alive file back within 6 s" wait_for 6 test -f "$alive"

# A missing BE folder holds the results back, said once; its return lets them through.
waiting="Waiting: $(native "$new/BE/new") does not exist - result files stay in the transfer folder"
resumed="Resumed: $(native "$new/BE/new") is back"
away "$new/BE/new"
cp "$samples/ONGQR_sample.csv" "$work/in/ONGQR_wait.csv"
check "log: $waiting" wait_for 10 grep -qF "$waiting" "$log"
sleep 2
check "the waiting reason is said once" test "$(grep -cF "$waiting" "$log")" -eq 1
check "the result file waits in the transfer folder" test -f "$work/in/ONGQR_wait.csv"
back "$new/BE/new"
check "log: $resumed" wait_for 10 grep -qF "$resumed" "$log"
check "the waiting result file is converted" wait_for 10 no_csv_left

check "a health line every 2 s while it runs" grep -q $'\thealth: since start ' "$log"
health_lines=$(grep -c $'\thealth: ' "$log")

# The normal shutdown rewrites orvel_scanner.ini.
if [ "$target" = windows ]; then
  "$wine" taskkill /im "$exe" >/dev/null 2>&1
else
  kill -TERM "$pid"
fi
wait_exit() { ! kill -0 "$pid" 2>/dev/null; }
check "program ends on request" wait_for 20 wait_exit
pid=
# Wine keeps no count of GDI and USER objects (it answers 0); a real Windows does.
held=', handles [1-9][0-9]*'
[ "$target" = windows ] && held="$held, gdi [0-9]+, user [0-9]+"
check "a health line at shutdown with the counts since start" \
  test "$(grep -c $'\thealth: ' "$log")" -gt "$health_lines" -a -n "$(grep $'\thealth: ' "$log" | tail -n 1 |
    grep -E "health: since start 2 traverse, 1 plate, 1 unknown, 1 failed; waiting 0, oldest 0 s; memory [1-9][0-9]*\.[0-9] MB$held$")"
expected=$(crlf "$(native "$work/in")" BE False 1 125 "" "Insitu input path" "" "line 9" 0 "line 11" true | od -c)
check "orvel_scanner.ini rewritten, later lines kept" test "$(od -c < "$work/bin/orvel_scanner.ini")" = "$expected"

echo "e2e $target: $((checks - failures)) of $checks checks passed"
if [ $failures -ne 0 ]; then
  echo "--- log"; cat "$log" 2>/dev/null | tail -n 40
  echo "--- stdout"; tail -n 20 "$work/stdout.log"
  exit 1
fi
