# Fails when the sibling library defines any function or variable that the platform library
# exports: a second copy of the platform in one process would mean two BSTR allocators, two
# COM states and two sets of allocation-failure hooks.
#   cmake -DNM=<nm> -DPLATFORM=<libvelt_platform.so> -DSIBLING=<libqelvor.so> -P no_platform_copy.cmake

cmake_minimum_required(VERSION 3.25)

# Strong definitions only: inline functions, template instances and inline variables are
# weak and may rightly be emitted on both sides.
function(strong_definitions out file)
  execute_process(COMMAND ${NM} --defined-only ${ARGN} ${file}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${NM} could not read ${file}")
  endif()
  string(REGEX MATCHALL "[0-9a-f]+ [TtDdBbRr] [^\n]+" lines "${listing}")
  set(names "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-f]+ . " "" name "${line}")
    list(APPEND names "${name}")
  endforeach()
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

strong_definitions(exported ${PLATFORM} -D)
if(NOT "SysAllocString" IN_LIST exported OR NOT "CoCreateInstance" IN_LIST exported)
  message(FATAL_ERROR "${PLATFORM} does not export the platform's functions")
endif()
# Every symbol of the sibling, local ones included: a copy linked in and then hidden is still
# a copy.
strong_definitions(defined ${SIBLING})
set(both "")
foreach(name IN LISTS defined)
  if(name IN_LIST exported)
    list(APPEND both ${name})
  endif()
endforeach()
if(both)
  list(REMOVE_DUPLICATES both)
  list(JOIN both "\n  " text)
  message(FATAL_ERROR "${SIBLING} carries its own copy of platform code:\n  ${text}")
endif()
