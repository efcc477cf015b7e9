# Shared by the project's scripts: build folders, the private Wine prefix, configure and build.
# Windows programs are started only through scripts/wine.sh (see there for the i686 modes).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KS_BUILD_DIR:-$root/build}
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
jobs=$(nproc 2>/dev/null || echo 2)

# How this host runs 32-bit programs (wine.sh lists the modes), with the reason. Called by each
# script once bootstrap.sh has installed the packages, never before: on a fresh machine the 32-bit
# Wine loader is not there yet, and a host that runs 32-bit programs would be taken for one that
# cannot. wine.sh and the test runs below the script read both from the environment.
detect_i686_mode() {
  unset KS_I686_MODE KS_I686_WHY
  read -r KS_I686_MODE KS_I686_WHY < <("$root/scripts/wine.sh" --why)
  export KS_I686_MODE KS_I686_WHY
}

winrun() {  # arch program [args...]
  "$root/scripts/wine.sh" "$@"
}

# One 64-bit prefix runs both the i686 and the x86_64 executables (wine.sh --prefix creates it
# when missing and starts its server).
ensure_wineprefix() {
  "$root/scripts/wine.sh" --prefix
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

# The build flavours: native (the Windows-free code under ASan/UBSan), i686 and x86_64 (GCC, the
# shipping compiler), clang-i686 and clang-x86_64 (the second compiler). The cross flavours are
# built with the runtime checks (trapping UBSan, libstdc++ assertions) unless KS_RUNTIME_CHECKS=OFF,
# as scripts/package.sh asks for what ships; x86_64's Wine tests also run under Wine's full heap
# validation then (it costs about a minute and a half of test time per build).
configure_and_build() {  # flavour, then the targets (all when none given)
  local arch=$1 dir=$build/$1 checks=${KS_RUNTIME_CHECKS:-ON} heap=OFF
  [ "$arch" = x86_64 ] && heap=$checks
  shift
  mkdir -p "$build"
  if [ ! -f "$dir/build.ninja" ]; then
    echo "== configuring $arch"
    if [ "$arch" = native ]; then
      local cxx=g++ cc=gcc
      if command -v clang++-14 >/dev/null; then cxx=clang++-14; cc=clang-14; fi
      cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKS_WERROR=ON \
        -DCMAKE_CXX_COMPILER=$cxx -DCMAKE_C_COMPILER=$cc >"$build/$arch.log" 2>&1
    else
      cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKS_WERROR=ON \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" -DKS_WINEPREFIX="$WINEPREFIX" \
        -DKS_RUNTIME_CHECKS="$checks" -DKS_HEAP_CHECKS="$heap" >"$build/$arch.log" 2>&1
    fi || { cat "$build/$arch.log"; echo "== configuring $arch failed"; return 1; }
  else
    # A folder configured before warnings became an option, by hand without them, or with the
    # runtime checks set the other way.
    local want=(-DKS_WERROR=ON)
    [ "$arch" = native ] || want+=(-DKS_RUNTIME_CHECKS="$checks" -DKS_HEAP_CHECKS="$heap")
    if ! grep -q '^KS_WERROR:BOOL=ON$' "$dir/CMakeCache.txt" ||
       { [ "$arch" != native ] && { ! grep -q "^KS_RUNTIME_CHECKS:BOOL=$checks\$" "$dir/CMakeCache.txt" ||
                                    ! grep -q "^KS_HEAP_CHECKS:BOOL=$heap\$" "$dir/CMakeCache.txt"; }; }; then
      cmake "${want[@]}" "$dir" >"$build/$arch.log" 2>&1 ||
        { cat "$build/$arch.log"; echo "== configuring $arch failed"; return 1; }
    fi
  fi
  echo "== building $arch"
  build_with_progress "$arch" "$dir" "$@"
}
