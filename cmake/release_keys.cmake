# Release public keys compiled into the updater. Each key is a file as
# `minisign -G` writes it; the files are read when the build is configured
# and their text is compiled in, so nothing read at run time can add or
# change a key.

# Writes a C++ source that defines compiled_release_key_texts() with the
# texts of the named key files (relative names from the source root) and
# stores its path in out_var.
function(tamsa_release_keys_source out_var name)
  set(entries "")
  foreach(key_file ${ARGN})
    if(NOT IS_ABSOLUTE ${key_file})
      set(key_file ${CMAKE_SOURCE_DIR}/${key_file})
    endif()
    if(NOT EXISTS ${key_file})
      message(FATAL_ERROR "release key ${key_file} does not exist")
    endif()
    file(STRINGS ${key_file} key_lines)
    list(LENGTH key_lines key_line_count)
    list(GET key_lines -1 key_base64)
    # 42 bytes ("Ed", key id, Ed25519 key) are 56 base64 characters, the
    # first two bytes always encode as "RW".
    if(key_line_count GREATER 2 OR NOT key_base64 MATCHES "^RW[A-Za-z0-9+/]+$")
      message(FATAL_ERROR "release key ${key_file} is not a minisign public key")
    endif()
    string(LENGTH ${key_base64} key_length)
    if(NOT key_length EQUAL 56)
      message(FATAL_ERROR "release key ${key_file} is not a minisign public key")
    endif()
    set_property(DIRECTORY ${CMAKE_SOURCE_DIR} APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${key_file})
    string(APPEND entries "        \"${key_base64}\",\n")
  endforeach()
  set(source ${CMAKE_BINARY_DIR}/release_keys/${name}.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT
"// The release public keys this program was built with (generated).
#include <string_view>
#include <vector>

const std::vector<std::string_view>& compiled_release_key_texts() {
    static const std::vector<std::string_view> texts{
@entries@    };
    return texts;
}
" @ONLY)
  set(${out_var} ${source} PARENT_SCOPE)
endfunction()
