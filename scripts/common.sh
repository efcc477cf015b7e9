# Shared by the project's scripts: build folders, the private Wine prefix, configure and build.
# Windows programs are started only through scripts/wine.sh (see there for the i686 modes).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KS_BUILD_DIR:-$root/build}
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
jobs=$(nproc 2>/dev/null || echo 2)

# Detected once per script run; wine.sh and the test runs below it read it from the environment.
detect_i686_mode() {
  unset KS_I686_MODE
  KS_I686_MODE=$("$root/scripts/wine.sh" --mode)
  export KS_I686_MODE
}
detect_i686_mode

winrun() {  # arch program [args...]
  "$root/scripts/wine.sh" "$@"
}

# One 64-bit prefix runs both the i686 and the x86_64 executables.
ensure_wineprefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating Wine prefix $WINEPREFIX (about a minute)"
    mkdir -p "$build"
    winrun x86_64 wineboot -i >/dev/null 2>&1 </dev/null || true
    /usr/lib/wine/wineserver -w
  fi
}

# Prints the build's progress in steps of a tenth instead of every compiler line; the whole
# output stays in $build/<arch>.log and is shown when the build fails.
build_with_progress() {  # arch dir [targets...]
  local arch=$1 dir=$2 log=$build/$1.log
  shift 2
  local targets=()
  [ $# -eq 0 ] || targets=(--target "$@")
  cmake --build "$dir" -j "$jobs" "${targets[@]}" >"$log" 2>&1 &
  local pid=$! shown=-1
  while kill -0 "$pid" 2>/dev/null; do
    sleep 2
    local step
    step=$(grep -oE '^\[[0-9]+/[0-9]+\]' "$log" | tail -n 1 | tr -d '[]')
    if [ -n "$step" ] && [ "${step%/*}" -gt 0 ]; then
      local tenth=$(( ${step%/*} * 10 / ${step#*/} ))
      if [ "$tenth" -gt "$shown" ]; then
        shown=$tenth
        echo "   $arch: ${step%/*} of ${step#*/} build steps"
      fi
    fi
  done
  if ! wait "$pid"; then
    cat "$log"
    echo "== building $arch failed (log: $log)"
    return 1
  fi
}

configure_and_build() {  # arch: i686 | x86_64 | native, then the targets (all when none given)
  local arch=$1 dir=$build/$1
  shift
  mkdir -p "$build"
  if [ ! -f "$dir/build.ninja" ]; then
    echo "== configuring $arch"
    if [ "$arch" = native ]; then
      local cxx=g++ cc=gcc
      if command -v clang++-14 >/dev/null; then cxx=clang++-14; cc=clang-14; fi
      cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_COMPILER=$cxx -DCMAKE_C_COMPILER=$cc >"$build/$arch.log" 2>&1
    else
      cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" -DKS_WINEPREFIX="$WINEPREFIX" \
        >"$build/$arch.log" 2>&1
    fi || { cat "$build/$arch.log"; echo "== configuring $arch failed"; return 1; }
  fi
  echo "== building $arch"
  build_with_progress "$arch" "$dir" "$@"
}
