# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads
# variant, so that std::thread works). The programs are linked statically: they
# need no DLL beyond those that come with Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CDT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CDT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CDT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CDT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CDT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config looks for Windows libraries only, never the host's: a library
# that has no Windows build here is simply not found.
set(ENV{PKG_CONFIG_LIBDIR} ${CMAKE_FIND_ROOT_PATH}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# The C99 printf family of MinGW-w64 rather than msvcrt's: the same output
# as glibc for every format the code uses (%lld, %zu, %a, rounding of %f).
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1 _WIN32_WINNT=0x0A00)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built for Windows run under Wine here (test discovery and the
# tests), in a Wine prefix of the build directory's own.
set(CMAKE_CROSSCOMPILING_EMULATOR
    env CDT_WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
