# Cross-compiling for Windows with Debian's mingw-w64 compilers (the
# POSIX-thread variants, which have std::thread), linked statically so that
# the programs import only Windows' own DLLs. Included by the toolchain file
# of each width, which sets TAMSA_MINGW_PREFIX and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TAMSA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAMSA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TAMSA_MINGW_PREFIX}-windres)
set(CMAKE_AR ${TAMSA_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${TAMSA_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

# The dependencies built for Windows live in TAMSA_WIN32_DEPS (set by
# scripts/build-windows.sh); the mingw-w64 sysroot holds zlib.
set(CMAKE_FIND_ROOT_PATH /usr/${TAMSA_MINGW_PREFIX} ${TAMSA_WIN32_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static libraries only: a .dll.a import library would make the program
# depend on a DLL that Windows does not have.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Windows 7 and later; Unicode entry points.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -DUNICODE -D_UNICODE")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -DUNICODE -D_UNICODE")

# Test programs run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/windows/wine-run.sh)
