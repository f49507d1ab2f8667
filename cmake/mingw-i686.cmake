# Cross build of the 32-bit Windows exit libraries with Debian's mingw-w64
# i686 toolchain (package g++-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(VELT_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
