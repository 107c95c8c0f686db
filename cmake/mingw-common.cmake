# Shared part of the MinGW-w64 toolchain files: compilers, where to look for the target's
# libraries, and a statically linked runtime. Expects MINGW_TRIPLET, e.g. x86_64-w64-mingw32.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${MINGW_TRIPLET}")

# The compilers' default thread model, win32, builds the editor. MINGW_THREAD_MODEL=posix picks
# Debian's posix-model twins, whose runtime has the std::mutex that GoogleTest needs.
if(MINGW_THREAD_MODEL)
  set(_mingw_compiler_suffix -${MINGW_THREAD_MODEL})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_THREAD_MODEL)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc${_mingw_compiler_suffix})
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++${_mingw_compiler_suffix})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

# Libraries, headers and packages come from the target's tree and from the prefixes given in
# CMAKE_PREFIX_PATH (the GLFW built for this target), never from the build machine's /usr.
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own runtime (libgcc, libstdc++, winpthread) goes into the executable, so that
# it needs nothing beyond the DLLs every Windows has. The PE header's time stamp stays 0 rather
# than the time of linking, so that a release built twice is the same file.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
# Paths under the checkout (the editor's sources, GLFW's source and build trees in build/) are
# written relative to it wherever the compiler records one, so the checkout's location leaves
# no trace in the executable.
get_filename_component(_checkout "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_C_FLAGS_INIT "-ffile-prefix-map=${_checkout}/=")
set(CMAKE_CXX_FLAGS_INIT "-ffile-prefix-map=${_checkout}/=")
# Release executables ship without symbols.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
