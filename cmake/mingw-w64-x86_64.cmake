# Cross-compiling for 64-bit Windows with Debian's mingw-w64, posix thread
# model (Qt 6 needs std::thread and std::mutex, which the win32 model lacks).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QAV_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QAV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QAV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QAV_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${QAV_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QAV_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

# Headers and libraries come from the mingw sysroot (and the prefixes added
# to CMAKE_FIND_ROOT_PATH by the caller); programs run on the build machine.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${QAV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
