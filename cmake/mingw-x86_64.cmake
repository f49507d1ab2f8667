# Cross build for 64-bit Windows with Debian's mingw-w64 x86_64 toolchain
# (package g++-mingw-w64-x86-64). Used to run the Windows test under a 64-bit
# wine on machines whose kernel runs no 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(VELT_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
