# Test helpers. Tests that never load the Java VM carry the label "nojvm"; the sanitizer
# runs select them by that label.
if(VELT_BUILD_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# velt_add_test(NAME name SOURCES ... LIBS ... [JVM])
function(velt_add_test)
  cmake_parse_arguments(T "JVM" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  velt_warnings(${T_NAME})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gmock GTest::gtest_main)
  if(T_JVM)
    # Every test that starts the VM runs with JNI checking, and any JNI warning fails it.
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS jvm
      ENVIRONMENT JAVA_TOOL_OPTIONS=-Xcheck:jni
      FAIL_REGULAR_EXPRESSION "WARNING.in.native.method")
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS nojvm)
  endif()
endfunction()
