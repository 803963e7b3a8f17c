# The Windows build. The SDK supplies the platform; when cross-compiled, the tests run under
# Wine in a prefix of their own inside the build folder, so that no test touches a user's
# Wine setup and every build starts from a fresh registry.
if(NOT WIN32)
  return()
endif()

if(CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  # Debian's wine chooses its 32-bit loader whenever that is installed; 64-bit programs
  # need the 64-bit loader named directly.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    find_program(VELT_WINE NAMES wine64 PATHS /usr/lib/wine)
    set(wine_arch win64)
  else()
    find_program(VELT_WINE NAMES wine)
    set(wine_arch win32)
  endif()
  if(NOT VELT_WINE)
    message(WARNING "Wine not found: the Windows tests are built but cannot run")
    set(VELT_WINE wine)
  endif()
  set(VELT_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  # mscoree and mshtml off: a new prefix would otherwise offer to install their runtimes.
  set(VELT_WINE_ENV WINEPREFIX=${VELT_WINEPREFIX} WINEARCH=${wine_arch} WINELOADER=${VELT_WINE} WINEDEBUG=-all
                    "WINEDLLOVERRIDES=mscoree,mshtml=")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env ${VELT_WINE_ENV} ${VELT_WINE})

  # Creating the prefix takes a while and must not race between tests started in parallel.
  # The wine server and the prefix's services are kept running from the first test to the
  # last (a server left by an earlier run is used as it is), which saves seconds per test
  # program; they must not hold on to the test's output, or the test would last as long as
  # they do. Should the closing step not run, they end by themselves a minute later.
  # The wine server refuses a prefix folder that does not exist yet, and would then be started
  # by the first program without the minute of grace, so the folder comes first. The prefix is
  # made and booted by Wine itself for the first program, here one that does nothing: booting
  # it again (wineboot -i) would start a second service control process beside the first, and
  # COM's service would then be found running by one and never started by the other.
  find_program(VELT_WINESERVER NAMES wineserver PATHS /usr/lib/wine)
  add_test(NAME wine_prefix
           COMMAND ${CMAKE_COMMAND} -E env ${VELT_WINE_ENV} sh -c
                   "exec </dev/null >/dev/null 2>&1; mkdir -p \"$WINEPREFIX\"; \"$0\" -p60; \"$1\" cmd /c exit"
                   ${VELT_WINESERVER} ${VELT_WINE})
  add_test(NAME wine_server_end
           COMMAND ${CMAKE_COMMAND} -E env ${VELT_WINE_ENV} sh -c "\"$0\" -k || true" ${VELT_WINESERVER})
  set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine LABELS "nojvm;windows")
  set_tests_properties(wine_server_end PROPERTIES FIXTURES_CLEANUP wine LABELS "nojvm;windows")
  set(VELT_WINDOWS_TEST_PROPERTIES FIXTURES_REQUIRED wine)
endif()

# The JNI headers: the JDK's jni.h with the Windows machine-dependent types of our own.
set(VELT_JDK_INCLUDE_DIR /usr/lib/jvm/java-17-openjdk-amd64/include
    CACHE PATH "Folder of the JDK's jni.h")
add_library(velt_jni_headers INTERFACE)
target_include_directories(velt_jni_headers SYSTEM INTERFACE ${VELT_JDK_INCLUDE_DIR}
                                                             ${CMAKE_SOURCE_DIR}/jvm/win32)

# velt_export_check_for_events(target): the executable exports the native event entry
# also under its decorated name. A standard-call symbol carries its argument bytes.
function(velt_export_check_for_events target)
  set(symbol Java_com_norvex_sysmgt_proxy_Glue_CheckForEvents)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    string(APPEND symbol @16)
  endif()
  # Not configured as a file of variables: the decorated name is full of @ signs.
  set(template ${CMAKE_SOURCE_DIR}/provider/win32/check_for_events.def.in)
  file(READ ${template} text)
  string(REPLACE "INTERNAL_SYMBOL" "${symbol}" text "${text}")
  set(def ${CMAKE_CURRENT_BINARY_DIR}/${target}_check_for_events.def)
  file(WRITE ${def}.new "${text}")
  configure_file(${def}.new ${def} COPYONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${template})
  # The linker takes a module-definition file as one of its inputs.
  target_link_options(${target} PRIVATE ${def})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def})
endfunction()
