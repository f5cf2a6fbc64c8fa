# Cross-compiling the launcher for 64-bit Windows with mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUOLVA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUOLVA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUOLVA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUOLVA_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUOLVA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The static zlib, so game.exe needs no zlib1.dll beside it.
set(ZLIB_USE_STATIC_LIBS ON)
set(ZLIB_LIBRARY /usr/${QUOLVA_MINGW_TRIPLE}/lib/libz.a CACHE FILEPATH "static zlib")
set(ZLIB_INCLUDE_DIR /usr/${QUOLVA_MINGW_TRIPLE}/include CACHE PATH "zlib headers")

# Test programs run under Wine through this wrapper (one Wine process per binary).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
