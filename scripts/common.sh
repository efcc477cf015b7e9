# Shared by the project's scripts: build folders, the private Wine prefix, configure and build.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KS_BUILD_DIR:-$root/build}
export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
jobs=$(nproc 2>/dev/null || echo 2)

# One 64-bit prefix runs both the i686 and the x86_64 executables.
ensure_wineprefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating Wine prefix $WINEPREFIX"
    mkdir -p "$build"
    wine wineboot -i >/dev/null 2>&1 </dev/null || true
    /usr/lib/wine/wineserver -w
  fi
}

configure_and_build() {  # arch: i686 | x86_64 | native
  local arch=$1 dir=$build/$1
  if [ "$arch" = native ]; then
    local cxx=g++ cc=gcc
    if command -v clang++-14 >/dev/null; then cxx=clang++-14; cc=clang-14; fi
    [ -f "$dir/build.ninja" ] || cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
      -DCMAKE_CXX_COMPILER=$cxx -DCMAKE_C_COMPILER=$cc >/dev/null
  else
    [ -f "$dir/build.ninja" ] || cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch.cmake" -DKS_WINEPREFIX="$WINEPREFIX" >/dev/null
  fi
  echo "== building $arch"
  cmake --build "$dir" -j "$jobs"
}
