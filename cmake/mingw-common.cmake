# The part of the mingw-w64 cross toolchains that does not depend on the
# processor; included by mingw-i686.cmake and mingw-x86_64.cmake after they
# set VELT_MINGW_TRIPLET and CMAKE_SYSTEM_PROCESSOR. Debian's win32 thread
# model is taken when installed: it needs no winpthread DLL.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${VELT_MINGW_TRIPLET}-gcc-win32 ${VELT_MINGW_TRIPLET}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VELT_MINGW_TRIPLET}-g++-win32 ${VELT_MINGW_TRIPLET}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VELT_MINGW_TRIPLET}-windres)
find_program(VELT_OBJDUMP NAMES ${VELT_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${VELT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs carry their own C++ runtime, so the test runs under wine with
# nothing else on the path. The exit libraries get the same through
# velt_export_entry_points.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
