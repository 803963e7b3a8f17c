# The Java compiler and UseJava, with the flags every jar of ours is built with: Java 17
# bytecode, every lint warning but serial, and warnings as errors. A folder that needs other
# lint settings sets CMAKE_JAVA_COMPILE_FLAGS after including this.
find_package(Java 17 REQUIRED COMPONENTS Development)
include(UseJava)
set(CMAKE_JAVA_COMPILE_FLAGS --release 17 -Xlint:all,-serial -Werror)
