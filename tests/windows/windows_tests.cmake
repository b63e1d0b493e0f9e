# The Windows build's own tests. Cross-built here, they run under Wine: the
# unit suites in a prefix made fresh for the run inside the build tree, and
# the end-to-end tests of quorbel.exe, which make a prefix and an X server of
# their own. On Windows itself the suites run as they are, and the workflow
# drives the programs.
enable_language(RC)
add_executable(titled_window windows/tools/titled_window.cpp windows/tools/titled_window.rc)
add_executable(capture_client windows/tools/capture_client.cpp)
target_link_libraries(capture_client PRIVATE ole32)
foreach(program titled_window capture_client)
  target_link_options(${program} PRIVATE -static)
endforeach()

if(NOT CMAKE_CROSSCOMPILING)
  return()
endif()

# Wine finds no MinGW runtime DLLs: the suites carry theirs, as GoogleTest is
# built here as static libraries.
foreach(program quorbel_unit_tests quorbel_windows_rules_tests)
  target_link_options(${program} PRIVATE -static)
endforeach()

if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3)
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QUORBEL_WINE_HELPER ${CMAKE_CURRENT_SOURCE_DIR}/windows/wine_prefix.py)
set(QUORBEL_UNIT_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)

add_test(NAME wine_prefix_made COMMAND ${Python3_EXECUTABLE} ${QUORBEL_WINE_HELPER} make ${QUORBEL_UNIT_PREFIX})
add_test(NAME wine_prefix_ended COMMAND ${Python3_EXECUTABLE} ${QUORBEL_WINE_HELPER} end ${QUORBEL_UNIT_PREFIX})
set_tests_properties(wine_prefix_made PROPERTIES FIXTURES_SETUP wine TIMEOUT 180 LABELS unit)
set_tests_properties(wine_prefix_ended PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60 LABELS unit)
set_tests_properties(quorbel_unit_tests quorbel_windows_rules_tests PROPERTIES
  FIXTURES_REQUIRED wine TIMEOUT 120
  ENVIRONMENT "WINEPREFIX=${QUORBEL_UNIT_PREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;WINEARCH=win64")

add_test(NAME e2e_windows_monitor COMMAND ${Python3_EXECUTABLE} -m unittest -v test_windows_monitor
         WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/windows)
set_tests_properties(e2e_windows_monitor PROPERTIES LABELS e2e TIMEOUT 300 ENVIRONMENT
  "QUORBEL_EXE=$<TARGET_FILE:quorbel>;QUORBEL_TITLED_WINDOW=$<TARGET_FILE:titled_window>;QUORBEL_SCRATCH=${CMAKE_BINARY_DIR};QUORBEL_WINDOWS_BUILD=${CMAKE_BINARY_DIR}")
