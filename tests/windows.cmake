# The suites that run under Wine in the Windows build. Every test program is
# started through the cross-compiling emulator (cmake/windows/wine-run.sh);
# tests are listed when ctest runs, so the build needs no Wine.
set(win32_test_dir ${CMAKE_BINARY_DIR}/tests)

# cpp-httplib (header only, from its source package: scripts/build-windows.sh)
# for the in-process servers on 127.0.0.1.
find_path(TAMSA_HTTPLIB_DIR httplib.h REQUIRED)
add_library(win32_httplib INTERFACE)
target_include_directories(win32_httplib SYSTEM INTERFACE ${TAMSA_HTTPLIB_DIR})
target_link_libraries(win32_httplib INTERFACE ws2_32)

# A test program in a folder of its own (the download and cleanup tests work
# on the program's directory). FILTER leaves out cases whose expectations
# hold only for the Linux mapping; each use says why. LOCK names a resource
# that its tests must not share with another test at the same time.
function(tamsa_windows_test name)
  cmake_parse_arguments(arg "" "FILTER;LOCK" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBRARIES} GTest::gtest_main)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${win32_test_dir}/${name})
  if(NOT arg_FILTER)
    set(arg_FILTER "*")
  endif()
  set(properties TIMEOUT 120)
  if(arg_LOCK)
    list(APPEND properties RESOURCE_LOCK ${arg_LOCK})
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_FILTER ${arg_FILTER}
                       PROPERTIES ${properties})
endfunction()

# The Win32 platform backend, with a helper program (a sleeper, a marker
# holder, a product window) and the updater's resources compiled in.
set(win32_platform_dir ${CMAKE_CURRENT_SOURCE_DIR}/platform/win32)
add_executable(win32_test_child ${win32_platform_dir}/test_child.cpp)
target_link_libraries(win32_test_child PRIVATE tamsa_platform)
tamsa_windows_test(win32_platform_tests
  SOURCES
    ${win32_platform_dir}/text_win32_test.cpp
    ${win32_platform_dir}/profile_win32_test.cpp
    ${win32_platform_dir}/files_win32_test.cpp
    ${win32_platform_dir}/single_instance_win32_test.cpp
    ${win32_platform_dir}/process_win32_test.cpp
    ${win32_platform_dir}/message_queue_win32_test.cpp
    ${win32_platform_dir}/executable_resource_win32_test.cpp
    ${win32_platform_dir}/window_win32_test.cpp
    ${win32_platform_dir}/font_lookup_win32_test.cpp
  LIBRARIES tamsa_platform user32 gdi32 advapi32)
target_compile_definitions(win32_platform_tests PRIVATE
  TEST_CHILD_PATH="$<TARGET_FILE:win32_test_child>" SKIN_ZIP_PATH="${TAMSA_SKIN_ZIP}")
add_dependencies(win32_platform_tests win32_test_child)
tamsa_windows_resources(win32_platform_tests)

# The debugger output as a debug viewer reads it: one viewer per machine (the
# DBWIN buffer is machine-wide), so these tests never overlap.
tamsa_windows_test(win32_debug_output_tests
  SOURCES ${win32_platform_dir}/debug_output_win32_test.cpp
  LIBRARIES tamsa_platform
  LOCK win32_debug_viewer)

# These call the user interface themselves (cmake/windows.cmake hides it).
foreach(target win32_test_child win32_platform_tests win32_debug_output_tests)
  target_compile_options(${target} PRIVATE -UNOUSER -UNOGDI)
endforeach()

# The application core's text utilities and command line. The round trip
# through the ANSI code page assumes it is UTF-8 (Linux); the Windows leg runs
# with code page 936, which the Win32 text tests cover.
tamsa_windows_test(win32_app_tests
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/app/text_utils_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/app/command_line_test.cpp
  LIBRARIES tamsa_core
  FILTER "-text_conversion.round_trips_between_wide_utf8_and_ansi")

# Closing the product and bringing it back, with a real product window.
tamsa_windows_test(win32_product_tests
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/app/win32/product_control_win32_test.cpp
  LIBRARIES tamsa_core user32)
target_compile_definitions(win32_product_tests PRIVATE TEST_CHILD_PATH="$<TARGET_FILE:win32_test_child>")
target_compile_options(win32_product_tests PRIVATE -UNOUSER -UNOGDI)
add_dependencies(win32_product_tests win32_test_child)

# The shared core: version order, text rules, the update run's record.
tamsa_windows_test(win32_core_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/core/version_order_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/text_rules_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/update_task_test.cpp
  LIBRARIES tamsa_base)

# The update check's settings. Its request and query suites
# serve HTTPS with OpenSSL in the test process, which has no Windows build
# here; the query and the Schannel download are checked end to end instead
# against servers on the Linux side (scripts/test-windows.sh).
tamsa_windows_test(win32_update_check_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/update_check/update_settings_test.cpp
  LIBRARIES tamsa_core)
target_compile_definitions(win32_update_check_tests PRIVATE TAMSA_SOURCE_DIR="${CMAKE_SOURCE_DIR}")

# The package download against package hosts on 127.0.0.1 (nginx is left
# out: it is a Linux program the test would start itself).
tamsa_windows_test(win32_download_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/download/curl_environment.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/download/segment_plan_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/download/md5_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/download/leftover_cleanup_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/download/segment_downloader_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/download/package_job_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/download/resume_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/download/stream_digest_test.cpp
  LIBRARIES tamsa_core win32_httplib
  # The case that starts package_fetch quotes its command for a POSIX shell.
  FILTER "-resume.held_parts_go_when_the_program_ends")
target_compile_definitions(win32_download_tests PRIVATE PACKAGE_FETCH_BINARY="$<TARGET_FILE:package_fetch>")
