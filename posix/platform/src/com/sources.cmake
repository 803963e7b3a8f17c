target_sources(velt_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/allocation_faults.cpp
  ${CMAKE_CURRENT_LIST_DIR}/apartment.cpp
  ${CMAKE_CURRENT_LIST_DIR}/class_table.cpp
  ${CMAKE_CURRENT_LIST_DIR}/guid_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/local_server.cpp
  ${CMAKE_CURRENT_LIST_DIR}/task_memory.cpp)
if(NOT WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/../remoting/sources.cmake)
endif()
