# Test helpers. Tests that never load the Java VM carry the label "nojvm"; the sanitizer
# runs select them by that label.
if(VELT_BUILD_TESTS)
  if(WIN32)
    # No GoogleTest for the target exists on the build machine: build it from Debian's sources.
    set(VELT_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${VELT_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  else()
    find_package(GTest REQUIRED)
    include(GoogleTest)
  endif()
endif()

# velt_add_test(NAME name SOURCES ... LIBS ... [JVM])
# On Windows the Java runtime of the build machine cannot be loaded, so tests that need it
# are not built there; the others run under Wine, one process per test program, because
# starting Wine once per test case would cost more than the tests themselves.
function(velt_add_test)
  cmake_parse_arguments(T "JVM" "NAME" "SOURCES;LIBS" ${ARGN})
  if(T_JVM AND WIN32)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  velt_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(WIN32)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES LABELS "nojvm;windows" ${VELT_WINDOWS_TEST_PROPERTIES})
  elseif(T_JVM)
    # Every test that starts the VM runs with JNI checking, and any JNI warning fails it, as
    # does a crash file of the VM.
    set_target_properties(${T_NAME} PROPERTIES
      CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/tests/support/jvm_test_guard.sh)
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS jvm
      ENVIRONMENT JAVA_TOOL_OPTIONS=-Xcheck:jni
      FAIL_REGULAR_EXPRESSION "WARNING.in.native.method")
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS nojvm)
  endif()
endfunction()
