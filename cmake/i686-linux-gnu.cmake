# 32-bit x86 Linux (i386): Debian's cross compiler, with the i386 libraries
# (ncurses, GoogleTest, libstdc++) installed through multiarch.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# 64-bit time_t and file offsets, so that stamps after 2038 are right.
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64")
# An x86-64 kernel runs i386 programs itself unless its 32-bit support is
# off; the cross libc's loader, run as a program, tells which.
execute_process(COMMAND /usr/i686-linux-gnu/lib/ld-linux.so.2 --version
                RESULT_VARIABLE i386_runs OUTPUT_QUIET ERROR_QUIET)
if(i386_runs EQUAL 0)
  message(STATUS "i386 programs run directly")
else()
  message(STATUS "i386 programs run through qemu-i386-static")
  set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386-static
      CACHE STRING "How this build's programs are started" FORCE)
endif()
