# Clang cross toolchain for i686 Windows (the second compiler; see clang-mingw.cmake).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KS_WIDL_ARCH -m32)
set(KS_STDOLE_DIR /usr/lib/i386-linux-gnu/wine/i386-windows)
set(KS_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/clang-mingw.cmake)
