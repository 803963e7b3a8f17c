# Build switches shared by every subsystem.
option(VELT_BUILD_TESTS "Build the test suites" ON)
option(VELT_WITH_JAVA "Build the Java side and the parts that load the Java VM" ON)
set(VELT_SANITIZE "" CACHE STRING "Sanitizers to build with: '', 'address,undefined' or 'thread'")
