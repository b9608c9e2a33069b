# Big-endian Linux (s390x), run through qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)

# ncurses and GoogleTest for s390x cannot be installed beside the host's
# libraries here (see tools/deps.list): their packages are unpacked into a
# sysroot, by default in the build directory, next to the cross compiler's
# own libc in /usr/s390x-linux-gnu.
if(NOT S390X_SYSROOT)
  set(S390X_SYSROOT ${CMAKE_BINARY_DIR}/sysroot)
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES S390X_SYSROOT)
if(NOT EXISTS ${S390X_SYSROOT}/unpacked)
  execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../tools/install-deps s390x-sysroot
                          ${S390X_SYSROOT} RESULT_VARIABLE unpacked)
  if(NOT unpacked EQUAL 0)
    message(FATAL_ERROR "no s390x sysroot in ${S390X_SYSROOT}")
  endif()
endif()

set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu ${S390X_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The sysroot's libraries: for the linker (ncurses' link script names
# libncurses.so.6 and tinfo by name) and, through the emulator, for the loader.
# The programs name the cross libc's loader by its real path rather than
# running under qemu's -L prefix: that prefix also redirects every absolute
# path the program itself opens that exists under it ("/" among them), so a
# walk from the root would start in /usr/s390x-linux-gnu.
set(s390x_libs ${S390X_SYSROOT}/usr/lib/s390x-linux-gnu ${S390X_SYSROOT}/lib/s390x-linux-gnu
               /usr/s390x-linux-gnu/lib)
string(JOIN : s390x_path ${s390x_libs})
list(TRANSFORM s390x_libs PREPEND -L)
string(JOIN " " s390x_link ${s390x_libs} -Wl,-rpath-link,${s390x_path}
       -Wl,--dynamic-linker=/usr/s390x-linux-gnu/lib/ld64.so.1)
set(CMAKE_EXE_LINKER_FLAGS_INIT ${s390x_link})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${s390x_link})
# In the cache too, for tools that start the built programs (demo-snapshot).
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-s390x-static -E LD_LIBRARY_PATH=${s390x_path}
    CACHE STRING "How this build's programs are started" FORCE)
