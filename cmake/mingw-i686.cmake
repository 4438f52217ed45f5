# Cross-compiling for 32-bit Windows with Debian's MinGW-w64 (posix threads
# flavour, so std::thread and std::mutex work). Used for the project and for
# the SDL2 dependency build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(_mingw i686-w64-mingw32)
set(CMAKE_C_COMPILER ${_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_mingw}-windres)
set(CMAKE_AR ${_mingw}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${_mingw}-ranlib CACHE FILEPATH "")

# SSE2 arithmetic, as on x86-64, so that float results match the Linux build.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# Libraries and headers come from the target root (MinGW and, when given,
# the cross-built dependencies in TOVARIN_WIN_DEPS); programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
if(DEFINED ENV{TOVARIN_WIN_DEPS})
  list(APPEND CMAKE_FIND_ROOT_PATH $ENV{TOVARIN_WIN_DEPS})
endif()
if(TOVARIN_WIN_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${TOVARIN_WIN_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
