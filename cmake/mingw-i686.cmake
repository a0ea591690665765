# Cross-compiling for Windows (i686) with MinGW-w64's posix-thread compilers (googletest needs them).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAMBRIX_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TAMBRIX_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMBRIX_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMBRIX_TRIPLE}-windres)
# Libraries the setup script built for this target (bzip2, googletest) live in the cache.
get_filename_component(TAMBRIX_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_FIND_ROOT_PATH /usr/${TAMBRIX_TRIPLE} "${TAMBRIX_ROOT}/.cache/mingw/${TAMBRIX_TRIPLE}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Link zlib statically: the programs ship without DLLs of their own.
set(ZLIB_USE_STATIC_LIBS ON)
