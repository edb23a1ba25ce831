# Shared build helpers of the project.

# varo_export_map(<target> <map file>)
# Links <target> with a version script so that only the listed symbols are
# exported; everything else (our internals, inlined templates of the standard
# library) stays local to the library.
function(varo_export_map target map)
  get_filename_component(map "${map}" ABSOLUTE)
  target_link_options(${target} PRIVATE "-Wl,--version-script=${map}")
  # clang keeps the sanitizer run-times in the executables: a fuzz build's
  # libraries leave those symbols to the program that loads them.
  if(NOT VARO_FUZZ)
    target_link_options(${target} PRIVATE "-Wl,--no-undefined")
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${map}")
endfunction()

# varo_loaded_per_call(<target>)
# For a library that its callers load and unload around every operation, so
# that each load costs the loader as little as it can:
#  --as-needed             a shared library is recorded (DT_NEEDED) only when
#                          the code uses it, so the loader never walks the
#                          dependency tree of one it does not;
#  -Bsymbolic-functions    the library's own calls and function pointers to
#                          its exported functions are bound at link time:
#                          relative relocations instead of symbol lookups
#                          through every library of the process. Nothing
#                          outside may replace those functions anyway: the
#                          library is opened by path, never linked against.
# RELRO, bind-now and the other hardening options stay as the build sets them.
function(varo_loaded_per_call target)
  target_link_options(${target} PRIVATE "-Wl,--as-needed" "-Wl,-Bsymbolic-functions")
endfunction()

# varo_add_gtest(<name> SOURCES ... [LIBS ...] [LOCKS ...] [NEEDS_TREE] [TIMEOUT s])
# One GoogleTest executable registered as one ctest test.
#  LOCKS       ctest RESOURCE_LOCK names (use "tmpfiles" for the fixed /tmp
#              paths and /tmp/varolog, "port9990" for the service port: the
#              program then checks the port before its first test and stops,
#              naming what holds it, when another process does).
#  NEEDS_TREE  the test uses the installed tree under VARO_INSTALL_ROOT; the
#              install step runs first as a ctest fixture. Such tests also
#              take the lock "install_tree", so a test may move an installed
#              library aside for a moment without disturbing the others.
function(varo_add_gtest name)
  cmake_parse_arguments(T "NEEDS_TREE" "TIMEOUT" "SOURCES;LIBS;LOCKS" ${ARGN})
  if(NOT VARO_BUILD_TESTS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
      VARO_TEST_BINARY_DIR="${CMAKE_BINARY_DIR}"
      VARO_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(T_NEEDS_TREE)
    list(APPEND T_LOCKS install_tree)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED varo_tree)
  endif()
  if(T_LOCKS)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${T_LOCKS}")
  endif()
  if("port9990" IN_LIST T_LOCKS)
    target_link_libraries(${name} PRIVATE varo_port9990_guard)
  endif()
endfunction()

# The installed tree as a test fixture: tests that load our libraries by their
# installed paths declare NEEDS_TREE and get a fresh `cmake --install` first.
if(VARO_BUILD_TESTS AND NOT TEST varo_install_tree)
  add_test(NAME varo_install_tree
           COMMAND ${CMAKE_COMMAND} --install ${CMAKE_BINARY_DIR})
  set_tests_properties(varo_install_tree PROPERTIES FIXTURES_SETUP varo_tree
                       RESOURCE_LOCK install_tree)
endif()

# varo_add_benchmark(<name> SOURCES ... [LIBS ...])
# A Google Benchmark program; `./run bench` runs every one of them.
function(varo_add_benchmark name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT benchmark_FOUND OR VARO_SANITIZE OR VARO_FUZZ)
    return()
  endif()
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
