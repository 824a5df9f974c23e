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
mkdir -p "$user_data"
cp "$samples/device_map_new.bin" "$user_data/device_map.bin"
log=$user_data/Kelvad.log

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

# Result files arrive while the program runs.
cp "$samples/ONGQR_sample.csv" "$work/in/"
cp "$samples/O3PR_sample.csv" "$work/in/"
echo "anything" > "$work/in/unknown.csv"
head -n 20 "$samples/ONGQR_sample.csv" > "$work/in/ONGQR_cut.csv"
no_csv_left() { ! ls "$work/in/"*.csv >/dev/null 2>&1; }
check "transfer folder emptied" wait_for 30 no_csv_left

new=$orvel/database/products/Production/measurements
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

# The normal shutdown rewrites orvel_scanner.ini.
if [ "$target" = windows ]; then
  "$wine" taskkill /im "$exe" >/dev/null 2>&1
else
  kill -TERM "$pid"
fi
wait_exit() { ! kill -0 "$pid" 2>/dev/null; }
check "program ends on request" wait_for 20 wait_exit
pid=
expected=$(crlf "$(native "$work/in")" BE False 1 125 "" "Insitu input path" "" "line 9" 0 "line 11" true | od -c)
check "orvel_scanner.ini rewritten, later lines kept" test "$(od -c < "$work/bin/orvel_scanner.ini")" = "$expected"

echo "e2e $target: $((checks - failures)) of $checks checks passed"
if [ $failures -ne 0 ]; then
  echo "--- log"; cat "$log" 2>/dev/null | tail -n 40
  echo "--- stdout"; tail -n 20 "$work/stdout.log"
  exit 1
fi
