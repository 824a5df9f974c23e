# Shared by the end-to-end scripts (sourced): counted checks, waiting for a condition, and
# where Wine keeps the user's roaming data.
checks=0 failures=0

check() {  # check <description> <command...>
  local what=$1
  shift
  checks=$((checks + 1))
  if "$@"; then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    failures=$((failures + 1))
  fi
}

wait_for() {  # wait_for <seconds> <command...>
  local deadline=$((SECONDS + $1))
  shift
  while ! "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep 0.2
  done
}

wine_roaming_folder() {  # the Roaming folder of the Wine user in $WINEPREFIX, or nothing
  ls -d "$WINEPREFIX"/drive_c/users/*/AppData/Roaming 2>/dev/null | grep -v /Public/ | head -n 1
}
