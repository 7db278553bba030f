# Shared by both toolchain files: the MinGW-w64 -posix compilers for PL5_TRIPLE, searching only
# that target's root, with Wine running what is built.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER   ${PL5_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PL5_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${PL5_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PL5_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
