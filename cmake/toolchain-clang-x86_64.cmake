# Clang cross toolchain for x86_64 Windows (the second compiler; see clang-mingw.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KS_WIDL_ARCH -m64)
set(KS_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set(KS_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
