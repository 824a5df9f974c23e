#!/usr/bin/env bash
# End to end, under faults: two programs on one transfer folder, the order in which outputs
# reach the disk before their input goes, and what a crash leaves behind.
#   e2e_faults.sh linux   <build/linux/Kelvad>       <samples folder>
#   e2e_faults.sh windows <build/windows/Kelvad.exe> <samples folder>   (under Wine, needs DISPLAY)
set -u
target=$1 program=$2 samples=$3
work=$(mktemp -d /tmp/kelvad-e2e-faults.XXXXXX)
running=()  # process ids started here that may still run
source "$(dirname "$0")/checks.sh"

cleanup() {
  local p
  for p in "${running[@]}"; do kill -9 "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# Paths as the program sees them.
if [ "$target" = windows ]; then
  native() { printf 'Z:%s' "${1//\//\\}"; }
  wine=/usr/lib/wine/wine64
  wine_user_data=$(wine_roaming_folder)
  [ -n "$wine_user_data" ] || { echo "no Wine user data folder in $WINEPREFIX"; exit 1; }
  exe=Kelvad.exe
  startup=30
else
  native() { printf '%s' "$1"; }
  exe=Kelvad
  startup=6
fi
crlf() { printf '%s\r\n' "$@"; }
scan_size=$(stat -c %s "$samples/TRV_0001.scn")

# sandbox <name>: a transfer folder and an ORVEL tree of their own; sets in, orvel, be_new, xy_new.
sandbox() {
  box=$work/$1
  in=$box/in orvel=$box/orvel
  be_new=$orvel/database/products/Production/measurements/BE/new
  xy_new=$orvel/database/products/Production/measurements/NGQ_A/new
  mkdir -p "$in" "$box/stage" "$orvel/database/current_product" "$orvel/archive" "$be_new" "$xy_new"
  touch "$orvel/database/current_product/Production"
}

# program_folder <name>: the program with its configuration beside it, serving the sandbox;
# sets log to the log it writes (on Windows every program of the Wine user shares one).
program_folder() {
  local bin=$box/$1
  mkdir -p "$bin"
  cp "$program" "$bin/$exe"
  crlf "$(native "$in")" BE "" 1 125 "" "" "" "line 9" 0 "line 11" true > "$bin/orvel_scanner.ini"
  crlf "$(native "$orvel")" > "$bin/orvel_path.ini"
  local user_data
  if [ "$target" = windows ]; then user_data=$wine_user_data/Kelvad; else user_data=$box/$1-data/Kelvad; fi
  mkdir -p "$user_data"
  cp "$samples/device_map_new.bin" "$user_data/device_map.bin"
  log=$user_data/Kelvad.log
}

# start <name> [wrapper...]: starts the program of that folder; sets pid.
start() {
  local name=$1
  shift
  if [ "$target" = windows ]; then
    (cd "$box/$name" && exec "$@" "$wine" "./$exe") >>"$box/$name.stdout" 2>&1 &
  else
    XDG_DATA_HOME=$box/$name-data QT_QPA_PLATFORM=offscreen "$@" "$box/$name/$exe" >>"$box/$name.stdout" 2>&1 &
  fi
  pid=$!
  running+=("$pid")
}

ended() { ! kill -0 "$1" 2>/dev/null; }
stop() {  # stop <pid>: the normal end (SIGTERM; under Wine it ends the Windows process)
  kill -TERM "$1" 2>/dev/null
  wait_for 20 ended "$1"
}

# Result files with names of their own: traverse n holds the scan TRV_<n>, plate n the plate P<n>.
traverse() {  # traverse <n>
  sed "/^Stamp;/{n;s/^\([^;]*\);TRV_0001;/\1;TRV_$1;/;}" "$samples/ONGQR_sample.csv"
}
plate() {  # plate <n>
  sed "s/^Plate;A123/Plate;P$1/" "$samples/O3PR_sample.csv"
}
# drop <kind> <first> <last>: written beside the transfer folder, then moved in whole.
drop() {
  local kind=$1 n
  for n in $(seq -f %04g "$2" "$3"); do
    if [ "$kind" = traverse ]; then
      traverse "$n" > "$box/stage/ONGQR_$n.part"
      mv "$box/stage/ONGQR_$n.part" "$in/ONGQR_$n.csv"
    else
      plate "$n" > "$box/stage/O3PR_$n.part"
      mv "$box/stage/O3PR_$n.part" "$in/O3PR_$n.csv"
    fi
  done
}

count() { local f n=0; for f in "$@"; do [ -e "$f" ] && n=$((n + 1)); done; echo $n; }
no_csv_left() { [ "$(count "$in"/*.csv)" -eq 0 ]; }
logged() { cat "$@" 2>/dev/null | tr -d '\r'; }
# said <text> <logs...>: how many log lines say exactly that text (taken as it is: Windows
# paths hold backslashes).
said() {
  local text=$1
  shift
  logged "$@" | TEXT=$text awk '{ if (substr($0, index($0, "\t") + 1) == ENVIRON["TEXT"]) ++n } END { print n + 0 }'
}

# once <kind> <prefix> <first> <last> <logs...>: every input of the range reported processed
# exactly once over all the logs, and no other.
once() {
  local kind=$1 prefix=$2 first=$3 last=$4
  shift 4
  local expected got
  expected=$(seq -f "${prefix}_%04g.csv" "$first" "$last")
  got=$(logged "$@" | sed -n "s/^[^\t]*\tProcessed $kind result: \(${prefix}_[0-9]*\.csv\)\$/\1/p" | sort)
  [ "$got" = "$expected" ] && return 0
  echo "      processed more than once: $(printf '%s\n' "$got" | uniq -d | head -n 5 | tr '\n' ' ')"
  echo "      never processed: $(comm -23 <(printf '%s\n' "$expected") <(printf '%s\n' "$got" | uniq) | head -n 5 | tr '\n' ' ')"
  return 1
}

# The lines of a tick's files are said once all of them are handed off: an input may be gone a
# moment before its line is in the log.
once_settled() {  # once_settled <as once>
  wait_for 10 once "$@" >/dev/null
  once "$@"
}

started_at=$SECONDS

# --- Two programs on one transfer folder -------------------------------------------------------
sandbox two
[ "$target" = windows ] && rm -rf "$wine_user_data/Kelvad"
program_folder bin1
log1=$log
program_folder bin2
log2=$log
waits_line="another Kelvad serves $(native "$in") - this one waits"
takes_line="this Kelvad now serves $(native "$in")"
start bin1
pid1=$pid
check "first program up (alive file)" wait_for "$startup" test -f "$orvel/live_signals/Kelvad.alv"
start bin2
pid2=$pid
waits_in() { [ "$(said "$waits_line" "$1")" -ge 1 ]; }
if [ "$target" = windows ]; then
  check "second program waits" wait_for "$startup" waits_in "$log1"
  logs=("$log1")
  server=$pid1 server_log=$log1 waiter_log=$log1
else
  either_waits() { waits_in "$log1" || waits_in "$log2"; }
  check "one of the two waits" wait_for "$startup" either_waits
  logs=("$log1" "$log2")
  if waits_in "$log2"; then server=$pid1 server_log=$log1 waiter_log=$log2
  else server=$pid2 server_log=$log2 waiter_log=$log1; fi
fi
t0=$SECONDS
drop traverse 1 200 &
dropper=$!
drop plate 1 50
wait "$dropper"
all_converted() {
  no_csv_left && [ "$(count "$be_new"/*.scn)" -eq 200 ] && [ "$(count "$xy_new"/*.xy)" -eq 50 ]
}
check "200 traverses and 50 plates converted" wait_for 120 all_converted
echo "      (after $((SECONDS - t0)) s: $(count "$be_new"/*.scn) scan files, $(count "$xy_new"/*.xy) xy files)"
check "nothing in failed" test "$(count "$in"/failed/*)" -eq 0
check "every traverse processed exactly once" once_settled ONGQ ONGQR 1 200 "${logs[@]}"
check "every plate processed exactly once" once_settled O3P O3PR 1 50 "${logs[@]}"
sleep 2  # a few more ticks of the waiting one
if [ "$target" = windows ]; then
  check "the waiting line said once" test "$(said "$waits_line" "$log1")" -eq 1
else
  check "the waiting line said once, by one program" \
    test "$(said "$waits_line" "$waiter_log")" -eq 1 -a \
         "$(logged "$server_log" | grep -c 'another Kelvad serves')" -eq 0
  check "the waiting program converted nothing" eval "! logged '$waiter_log' | grep -q 'Processed O'"
fi
check "the serving program ends" stop "$server"
takes_over() { [ "$(said "$takes_line" "${logs[@]}")" -eq 1 ]; }
check "the other one takes over" wait_for 20 takes_over
drop traverse 201 205
five_more() { no_csv_left && [ "$(count "$be_new"/*.scn)" -eq 205 ]; }
check "and converts what comes next" wait_for 30 five_more
if [ "$target" = linux ]; then
  check "converted by the one that took over" once_settled ONGQ ONGQR 201 205 "$waiter_log"
fi
check "every traverse still processed exactly once" once_settled ONGQ ONGQR 1 205 "${logs[@]}"
[ "$server" = "$pid1" ] && other=$pid2 || other=$pid1
stop "$other"
echo "      (two programs: $((SECONDS - started_at)) s)"

# --- Flushed before deleted (Linux, under strace) ---------------------------------------------
# In the trace of one traverse and one plate: each output's temporary file is flushed before it
# is renamed to its final name (by an fsync of the file, or by a syncfs between its creation and
# the rename, which flushes the outputs of a tick together), its folder is flushed after the
# rename, and the input is unlinked only after that.
flushed_in_order() {  # flushed_in_order <trace> <final path> <input path>
  awk -v target="$2" -v input="$3" '
    function plain(path) {  # "a//b/" and "a/b" name the same entry
      gsub(/\/+/, "/", path)
      if (length(path) > 1) sub(/\/$/, "", path)
      return path
    }
    function quoted(text, list,   n) {
      n = 0
      while (match(text, /"([^"\\]|\\.)*"/)) {
        list[++n] = plain(substr(text, RSTART + 1, RLENGTH - 2))
        text = substr(text, RSTART + RLENGTH)
      }
      return n
    }
    {
      pid = $1
      line = $0
      sub(/^[0-9]+ +[0-9:.]+ +/, "", line)
      if (line ~ /<unfinished \.\.\.>$/) { sub(/ *<unfinished \.\.\.>$/, "", line); pending[pid] = line; next }
      if (line ~ /^<\.\.\. [a-z0-9_]+ resumed>/) {
        sub(/^<\.\.\. [a-z0-9_]+ resumed> */, "", line)
        line = pending[pid] line
        delete pending[pid]
      }
      call = line; sub(/\(.*/, "", call)
      result = line
      if (!sub(/.*\) += /, "", result)) next
      split(result, r, " ")
      ok = r[1] != "-1"
      ++step
      delete s
      quoted(line, s)
      if (call == "openat" && ok) {
        name[pid, r[1]] = s[1]; folder[pid, r[1]] = line ~ /O_DIRECTORY/
        if (line ~ /O_CREAT/ && !(s[1] in created)) created[s[1]] = step
      }
      else if (call == "syncfs" && ok) syncfs_steps = syncfs_steps " " step
      else if ((call == "fsync" || call == "fdatasync") && ok) {
        fd = line; sub(/^[a-z]+\(/, "", fd); sub(/[^0-9].*/, "", fd)
        if (folder[pid, fd]) folder_flushes[name[pid, fd]] = folder_flushes[name[pid, fd]] " " step
        else file_flush[name[pid, fd]] = step
      }
      else if (call ~ /^rename/ && ok) { renamed_from[s[2]] = s[1]; rename_step[s[2]] = step }
      else if (call ~ /^unlink/ && ok) unlink_step[s[1]] = step
    }
    END {
      target = plain(target); input = plain(input)
      if (!(target in rename_step)) { print "      no rename to " target; exit 1 }
      temporary = renamed_from[target]; at = rename_step[target]
      short = temporary; sub(/.*\//, "", short)
      if (short !~ /^~kelvad-[0-9]+-[0-9]+_[0-9]+_[0-9]+\.tmp$/) { print "      renamed from " temporary; exit 1 }
      flushed = (temporary in file_flush) && file_flush[temporary] < at
      n = split(syncfs_steps, steps, " ")
      for (i = 1; i <= n; ++i)
        if ((temporary in created) && steps[i] + 0 > created[temporary] && steps[i] + 0 < at) flushed = 1
      if (!flushed) { print "      " temporary " not flushed before its rename"; exit 1 }
      dir = target; sub(/\/[^\/]*$/, "", dir)
      n = split(folder_flushes[dir], steps, " ")
      after = 0
      for (i = 1; i <= n; ++i) if (steps[i] + 0 > at) { after = steps[i] + 0; break }
      if (!after) { print "      " dir " not flushed after the rename"; exit 1 }
      if (!(input in unlink_step)) { print "      " input " not unlinked"; exit 1 }
      if (unlink_step[input] < after) { print "      " input " unlinked before " target " was on disk"; exit 1 }
    }' "$1"
}

if [ "$target" = linux ]; then
  if command -v strace >/dev/null 2>&1; then
    sandbox traced
    program_folder bin
    trace=$box/trace
    start bin strace -f -tt -s 4096 -e trace=openat,fsync,fdatasync,syncfs,rename,renameat,renameat2,unlink,unlinkat -o "$trace"
    tracer=$pid
    check "traced program up (alive file)" wait_for 20 test -f "$orvel/live_signals/Kelvad.alv"
    drop traverse 301 301
    drop plate 301 301
    one_each() { no_csv_left && test -f "$be_new/TRV_0301.scn" -a -f "$xy_new/P0301___T.xy"; }
    check "traced program converts" wait_for 30 one_each
    traced=$(ps -o pid= --ppid "$tracer" | tr -d ' ')
    [ -n "$traced" ] && stop "$traced"
    wait_for 10 ended "$tracer"
    archived=$(find "$orvel/archive" -name ONGQR_0301.csv | head -n 1)
    check "scan file: flushed, renamed, folder flushed, then the input unlinked" \
      flushed_in_order "$trace" "$be_new/TRV_0301.scn" "$in/ONGQR_0301.csv"
    check "xy file: flushed, renamed, folder flushed, then the input unlinked" \
      flushed_in_order "$trace" "$xy_new/P0301___T.xy" "$in/O3PR_0301.csv"
    check "archive copy: flushed, renamed, folder flushed, then the input unlinked" \
      flushed_in_order "$trace" "${archived:-archive copy missing}" "$in/ONGQR_0301.csv"
  else
    echo "skip: strace missing"
  fi
fi

# --- Killed mid-import, and what a crash leaves behind -----------------------------------------
sandbox crash
program_folder bin
crash_log=$log
killed=none
if [ "$target" = linux ]; then
  start bin
  check "program up (alive file)" wait_for "$startup" test -f "$orvel/live_signals/Kelvad.alv"
  for n in $(seq -f %04g 401 430); do traverse "$n" > "$box/stage/ONGQR_$n.part"; done
  for n in $(seq -f %04g 401 430); do mv "$box/stage/ONGQR_$n.part" "$in/ONGQR_$n.csv"; done
  deadline=$((SECONDS + 20))
  while ! compgen -G "$be_new/*.scn" >/dev/null && [ $SECONDS -lt $deadline ]; do :; done
  kill -9 "$pid"
  killed=$pid
  wait "$pid" 2>/dev/null
  echo "      (killed with $(count "$be_new"/*.scn) of 30 scan files written)"
  start bin
  check "restarted program finishes the batch" wait_for 30 no_csv_left
  stop "$pid"
  failed_intact() {
    local f n
    for f in "$in"/failed/*; do
      [ -e "$f" ] || continue
      n=${f##*ONGQR_}
      n=${n%.csv}
      cmp -s "$f" <(traverse "$n") || return 1
    done
  }
  check "every input converted or kept in failed ($(count "$be_new"/*.scn) + $(count "$in"/failed/*))" \
    test $(($(count "$be_new"/*.scn) + $(count "$in"/failed/*))) -eq 30
  check "files in failed unchanged" failed_intact
  complete_scans() {
    local f
    for f in "$be_new"/*; do
      case ${f##*/} in
        TRV_04[0-3][0-9].scn) [ "$(stat -c %s "$f")" -eq "$scan_size" ] || { echo "      $f: $(stat -c %s "$f") bytes"; return 1; } ;;
        "~kelvad-$killed-"*.tmp) ;;  # the killed program's, removed once they are old
        *) echo "      unexpected ${f##*/}"; return 1 ;;
      esac
    done
  }
  check "only complete scan files in BE/new" complete_scans
  check "no file left under its test name" test "$(count "$in"/*.kelvad-free)" -eq 0
fi

# A crash between the two renames of the readiness test, and temporary files of dead programs.
today=$orvel/archive/Production/$(date +%Y/%-m/%-d)/BE
mkdir -p "$today"
traverse 0500 > "$in/ONGQR_0500.csv.kelvad-free"
for folder in "$be_new" "$today"; do
  touch -d '-5 min' "$folder/~kelvad-999999-1_2_3.tmp"
  for f in "$folder/~kelvad-$killed-"*.tmp; do [ -e "$f" ] && touch -d '-5 min' "$f"; done
done
touch "$be_new/~kelvad-999998-4_5_6.tmp"                      # a dead program's, but young
[ "$target" = linux ] && touch -d '-5 min' "$be_new/~kelvad-$$-7_8_9.tmp"  # of a living process
start bin
check "file under its test name restored and converted" wait_for "$startup" test -f "$be_new/TRV_0500.scn"
restored() { [ "$(said "Restored $(native "$in/ONGQR_0500.csv") after an interrupted test" "$crash_log")" -eq 1 ]; }
check "restoration logged" wait_for 5 restored
check "transfer folder emptied" wait_for 10 no_csv_left
check "no file left under its test name" test "$(count "$in"/*.kelvad-free)" -eq 0
check "old temporary files of dead programs removed" \
  test "$(count "$be_new/~kelvad-999999-"*.tmp "$today/~kelvad-999999-"*.tmp "$be_new/~kelvad-$killed-"*.tmp "$today/~kelvad-$killed-"*.tmp)" -eq 0
check "a young temporary file kept" test -f "$be_new/~kelvad-999998-4_5_6.tmp"
[ "$target" = linux ] && check "a living process's temporary file kept" test -f "$be_new/~kelvad-$$-7_8_9.tmp"
check "program ends on request" stop "$pid"

echo "      (all: $((SECONDS - started_at)) s)"
echo "e2e-faults $target: $((checks - failures)) of $checks checks passed"
if [ $failures -ne 0 ]; then
  for f in "$work"/*/*-data/Kelvad/Kelvad.log "${wine_user_data:-/nonexistent}/Kelvad/Kelvad.log"; do
    [ -f "$f" ] && { echo "--- $f"; tail -n 30 "$f"; }
  done 2>/dev/null
  exit 1
fi
