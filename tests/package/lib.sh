# Shared by the package tests (sourced): Windows programs of either bitness in a Wine prefix of
# the test's own, msiexec with its whole exit code, and failures that are counted, not fatal.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine=$root/scripts/wine.sh
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='

# Exits 77 (skipped) with wine.sh's reason where programs of that bitness cannot run here.
require_bitness() {  # arch
  "$wine" "$1" --version >/dev/null
  [ $? -eq 77 ] && { "$wine" "$1" --version; exit 77; }
}

# The prefix is kept between runs; a persistent server keeps Wine's background processes from
# holding our output open.
use_prefix() {  # folder
  export WINEPREFIX=$1
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "creating Wine prefix $WINEPREFIX"
    "$wine" x86_64 wineboot -i >/dev/null 2>&1 </dev/null
    "$wineserver" -w
  fi
  "$wineserver" -p >/dev/null 2>&1 </dev/null
  trap '"$wineserver" -k >/dev/null 2>&1' EXIT
}

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run_as() { "$wine" "$@" </dev/null 2>/dev/null | tr -d '\r'; }  # arch program [args...]
# msiexec's whole exit code (a Unix exit status keeps only its low byte).
msiexec_as() {  # arch msiexec arguments...
  local arch=$1
  shift
  run_as "$arch" cmd.exe /v:on /c "start /wait msiexec $* & echo exit=!errorlevel!" | sed -n 's/^exit=//p'
}
expect_msiexec_as() {  # arch, expected codes, description, msiexec arguments...
  local arch=$1 expected=$2 what=$3 code
  shift 3
  code=$(msiexec_as "$arch" "$@")
  [[ " $expected " == *" $code "* ]] || fail "$what: msiexec $* returned '$code', expected $expected"
}
product_code() {  # package.msi
  msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'
}
program_files() {  # arch: the package's program folder of that bitness
  if [ "$1" = x86_64 ]; then echo 'C:\Program Files'; else echo 'C:\Program Files (x86)'; fi
}
# The registration entries that the server test prints in its bitness's view: six keys, each
# present with its tree or "<absent>".
expect_unregistered() {  # description, dump
  [ "$(grep -c '<absent>' <<<"$2")" -eq 6 ] || fail "$1: registration entries left:"$'\n'"$2"
  grep -q '^CLSID <present>' <<<"$2" && grep -q '^AppID <present>' <<<"$2" ||
    fail "$1: HKCR\\CLSID or HKCR\\AppID went too"
}
