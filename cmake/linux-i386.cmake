# Linux i386 build of the whole tree on an x86-64 Debian host with the
# multilib compilers (g++-multilib) and the i386 development packages
# (libgtest-dev:i386 and the like). The programs run natively where the kernel
# runs i386 programs, otherwise through qemu's user emulator registered with
# binfmt_misc (.ci/i386.sh does both).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)

# The i386 multiarch directories (find_package's <prefix>/lib/i386-linux-gnu)
# and /usr/lib32 of the multilib packages are searched: CMake takes the lib32
# directories for a 4-byte pointer on Linux by itself.

# pkg-config (LZ4) looks at the i386 multiarch directory, not the host's.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
