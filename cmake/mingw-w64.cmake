# Toolchain of the Windows build: MinGW-w64 for 64-bit Windows with the
# posix thread model (std::thread and std::mutex need it), everything linked
# statically so that a program needs no DLL beside it, and the programs run
# under Wine wherever the build runs one (tests, test discovery) through
# scripts/wine-run. Used by the preset "windows" (scripts/build windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TESSARIN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TESSARIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TESSARIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TESSARIN_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TESSARIN_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TESSARIN_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${TESSARIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# A program that misses a DLL ends with code 53 under Wine before main():
# the compiler's runtime (libstdc++, libgcc, winpthread) goes into the
# executable.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# The prefix of Wine lives in the build folder, so that builds do not share
# one and removing the build folder removes it.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run;--prefix;${CMAKE_BINARY_DIR}/wine")
