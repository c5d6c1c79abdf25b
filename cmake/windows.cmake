# The Windows build (cross-compiled with cmake/mingw-w64-i686.cmake or
# cmake/mingw-w64-x86_64.cmake): the
# dependencies built for Windows by scripts/build-windows.sh, the host-side
# skin packer, and the program's resources (skin archive and manifest).

# curl.h brings in windows.h (through winsock2.h). Above platform/ its user
# interface macros (WM_*, SW_*, IDOK ...) would replace the platform layer's
# constants of the same names, so they are left out there; platform/
# removes these again for its Windows backend.
add_definitions(-DWIN32_LEAN_AND_MEAN -DNOMINMAX -DNOUSER -DNOGDI)

# libcurl (HTTP and HTTPS over Schannel), built static.
find_package(CURL CONFIG REQUIRED)
# zlib from Debian's mingw-w64 package: its static library by its own name,
# since libz.dll.a (the DLL's import library) also ends in ".a".
find_library(ZLIB_LIBRARY NAMES libz.a REQUIRED)
find_package(ZLIB REQUIRED)
find_package(jsoncpp CONFIG REQUIRED)
# FreeType (with zlib) for the toolkit's own text renderer.
find_package(Freetype REQUIRED)
# libsodium, static, under the Linux build's pkg-config target name. Its
# random source (never used for checking signatures) imports advapi32.
find_library(TAMSA_SODIUM_LIBRARY NAMES libsodium.a REQUIRED)
find_path(TAMSA_SODIUM_INCLUDE_DIR sodium.h REQUIRED)
add_library(PkgConfig::SODIUM INTERFACE IMPORTED)
target_include_directories(PkgConfig::SODIUM INTERFACE ${TAMSA_SODIUM_INCLUDE_DIR})
target_compile_definitions(PkgConfig::SODIUM INTERFACE SODIUM_STATIC)
target_link_libraries(PkgConfig::SODIUM INTERFACE ${TAMSA_SODIUM_LIBRARY} advapi32)
# The same target name as the Linux build's pkg-config lookup, so that the
# libraries link it alike.
add_library(PkgConfig::JSONCPP INTERFACE IMPORTED)
target_link_libraries(PkgConfig::JSONCPP INTERFACE jsoncpp_static)

# skin_pack runs at build time, so it is built for the build machine with
# its own compiler, outside this cross build.
set(TAMSA_HOST_CXX c++ CACHE STRING "C++ compiler of the build machine (for build-time tools)")
set(tamsa_skin_pack ${CMAKE_BINARY_DIR}/host/skin_pack)
set(tamsa_skin_pack_sources
  ${CMAKE_SOURCE_DIR}/tools/skin_pack/main.cpp
  ${CMAKE_SOURCE_DIR}/tools/skin_pack/zip_writer.cpp
  ${CMAKE_SOURCE_DIR}/platform/linux/text.cpp)
add_custom_command(
  OUTPUT ${tamsa_skin_pack}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
  COMMAND ${TAMSA_HOST_CXX} -std=c++20 -O1 -I${CMAKE_SOURCE_DIR} ${tamsa_skin_pack_sources} -lz -o ${tamsa_skin_pack}
  DEPENDS ${tamsa_skin_pack_sources}
  COMMENT "Building the host skin packer"
  VERBATIM)

# The skin archive, packed once for every program that carries it.
set(TAMSA_SKIN_ZIP ${CMAKE_BINARY_DIR}/skin/skin.zip)
file(GLOB tamsa_skin_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/skin/*.xml ${CMAKE_SOURCE_DIR}/skin/*.png)
add_custom_command(
  OUTPUT ${TAMSA_SKIN_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/skin
  COMMAND ${tamsa_skin_pack} ${CMAKE_SOURCE_DIR}/skin ${TAMSA_SKIN_ZIP}
  DEPENDS ${tamsa_skin_pack} ${tamsa_skin_files}
  COMMENT "Packing the skin archive"
  VERBATIM)
add_custom_target(tamsa_skin_zip DEPENDS ${TAMSA_SKIN_ZIP})

# The skin archive as resource "ZIPRES" 200 and the manifest, compiled by
# windres into a program.
# The manifest names the program's processor: x86, or amd64 for the x86-64 build.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TAMSA_MANIFEST_ARCH amd64)
else()
  set(TAMSA_MANIFEST_ARCH x86)
endif()
set(TAMSA_MANIFEST ${CMAKE_BINARY_DIR}/TamsaUpdate.manifest)
configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/TamsaUpdate.manifest.in ${TAMSA_MANIFEST} @ONLY)

function(tamsa_windows_resources target)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/windows/resources.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${TAMSA_SKIN_ZIP};${TAMSA_MANIFEST}")
  target_sources(${target} PRIVATE ${rc})
  add_dependencies(${target} tamsa_skin_zip)
endfunction()

# googletest for the test programs, built from the source that Debian's
# googletest package installs, for Windows like everything else here.
function(tamsa_windows_googletest)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endfunction()
