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
  cmake_parse_arguments(arg "" "FILTER;LOCK" "SOURCES;LIBRARIES;PROPERTIES" ${ARGN})
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
  list(APPEND properties ${arg_PROPERTIES})
  # Test names come from the tests themselves, never from printed parameter bytes.
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_FILTER ${arg_FILTER}
                       NO_PRETTY_VALUES PROPERTIES ${properties})
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
    ${win32_platform_dir}/held_file_win32_test.cpp
    ${win32_platform_dir}/single_instance_win32_test.cpp
    ${win32_platform_dir}/process_win32_test.cpp
    ${win32_platform_dir}/message_queue_win32_test.cpp
    ${win32_platform_dir}/executable_resource_win32_test.cpp
    ${win32_platform_dir}/window_win32_test.cpp
    ${win32_platform_dir}/font_lookup_win32_test.cpp
    ${win32_platform_dir}/proxy_win32_test.cpp
  LIBRARIES tamsa_platform user32 gdi32 advapi32 ws2_32)
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

# The shared core: version order, text rules, the update run's record, the
# rate watch, and the reading of the system's proxy lists.
tamsa_windows_test(win32_core_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/core/version_order_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/text_rules_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/update_task_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/core/rate_watch_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/platform/proxy_rules_test.cpp
  LIBRARIES tamsa_base)

# An HTTPS host on the build machine's side of 127.0.0.1 (the test programs
# have no TLS library to serve with), up while the tests that need it run;
# its address is in a file of this build tree, so runs never share it.
set(win32_https_host_dir ${CMAKE_BINARY_DIR}/tests/https_host)
# (python3 and openssl are the test machine's: scripts/test-windows.sh
# installs them; the build itself needs neither.)
set(win32_https_host ${CMAKE_CURRENT_SOURCE_DIR}/update_check/https_host.py)
add_test(NAME win32_https_host.start COMMAND python3 ${win32_https_host} start ${win32_https_host_dir})
add_test(NAME win32_https_host.stop COMMAND python3 ${win32_https_host} stop ${win32_https_host_dir})
set_tests_properties(win32_https_host.start PROPERTIES FIXTURES_SETUP win32_https_host TIMEOUT 30)
set_tests_properties(win32_https_host.stop PROPERTIES FIXTURES_CLEANUP win32_https_host TIMEOUT 30)

# The update check: its settings, the request and the whole query against
# in-process servers on 127.0.0.1, and the request over HTTPS through
# Schannel against the host above.
tamsa_windows_test(win32_update_check_tests
  SOURCES
    ${CMAKE_CURRENT_SOURCE_DIR}/update_check/update_settings_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/update_check/http_client_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/update_check/update_query_test.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/support/loopback_only.cpp
  LIBRARIES tamsa_core win32_httplib
  PROPERTIES
    FIXTURES_REQUIRED win32_https_host
    ENVIRONMENT TAMSA_TEST_HTTPS_HOST_FILE=${win32_https_host_dir}/address)
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
    ${CMAKE_CURRENT_SOURCE_DIR}/download/segment_pacing_test.cpp
  LIBRARIES tamsa_core win32_httplib
  # The case that starts package_fetch quotes its command for a POSIX shell.
  FILTER "-resume.held_parts_go_when_the_program_ends")
target_compile_definitions(win32_download_tests PRIVATE PACKAGE_FETCH_BINARY="$<TARGET_FILE:package_fetch>")

# stb's headers by the folder name the tests use (<stb/...>), without the
# rest of the build machine's include folder.
set(win32_stb_dir ${CMAKE_BINARY_DIR}/stb_include)
file(MAKE_DIRECTORY ${win32_stb_dir})
if(NOT EXISTS ${win32_stb_dir}/stb)
  file(CREATE_LINK /usr/include/stb ${win32_stb_dir}/stb SYMBOLIC)
endif()

# The toolkit on the off-screen display, with the skin archive as the
# program's resource and the system's fonts found through the registry and
# the font folder. One program for all of its test files (one link instead
# of sixteen); each case still runs in a process of its own. The markup
# fuzzer is not among them: it needs clang's fuzzing engine.
file(GLOB win32_toolkit_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/toolkit/*_test.cpp)
# The missing-glyph line is read from standard error, where the Linux build
# logs; on Windows it goes to the debugger output.
tamsa_windows_test(win32_toolkit_tests
  SOURCES ${win32_toolkit_sources}
  LIBRARIES skinui tamsa_skin ZLIB::ZLIB GTest::gmock
  FILTER "-render_font_test.a_character_no_font_has_is_logged_once_per_font")
target_include_directories(win32_toolkit_tests SYSTEM PRIVATE ${win32_stb_dir})
target_compile_definitions(win32_toolkit_tests PRIVATE TOOLKIT_SKIN_DIR="${CMAKE_SOURCE_DIR}/skin/")
tamsa_windows_resources(win32_toolkit_tests)

# The updater's windows and the run sequence that shows them. Update tasks
# clean their program's directory and downloads land there: each program has
# a directory of its own, and its tests take turns. (Only the run sequence
# takes the single-instance marker here, so its own lock covers that too.)
# dlg_update_test builds its link case on Linux only: that case records the
# address with a stand-in for xdg-open on PATH, while on Windows the shell
# hands it to the system's browser.
foreach(name dlg_base dlg_update dlg_hint_update run_sequence)
  tamsa_windows_test(win32_${name}_tests
    SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/windows/${name}_test.cpp
    LIBRARIES tamsa_core win32_httplib
    LOCK win32_${name}_directory)
  target_compile_definitions(win32_${name}_tests PRIVATE TOOLKIT_SKIN_DIR="${CMAKE_SOURCE_DIR}/skin/")
  tamsa_windows_resources(win32_${name}_tests)
endforeach()

# The window base as a real Win32 window: the toolkit's native window and the
# window base over the system's window procedure, caption handling and
# message box. It shows windows of its own, so it takes its turn with the
# window base's directory lock.
tamsa_windows_test(win32_dlg_base_window_tests
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/windows/dlg_base_win32_test.cpp
  LIBRARIES tamsa_core user32
  LOCK win32_dlg_base_directory)
target_compile_options(win32_dlg_base_window_tests PRIVATE -UNOUSER -UNOGDI)
tamsa_windows_resources(win32_dlg_base_window_tests)
