target_sources(velt_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/critical_section.cpp
  ${CMAKE_CURRENT_LIST_DIR}/debug_output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/directories.cpp
  ${CMAKE_CURRENT_LIST_DIR}/environment.cpp
  ${CMAKE_CURRENT_LIST_DIR}/find_files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/format_message.cpp
  ${CMAKE_CURRENT_LIST_DIR}/handles.cpp
  ${CMAKE_CURRENT_LIST_DIR}/interlocked.cpp
  ${CMAKE_CURRENT_LIST_DIR}/local_memory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/message_queue.cpp
  ${CMAKE_CURRENT_LIST_DIR}/modules.cpp
  ${CMAKE_CURRENT_LIST_DIR}/startup_info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/string_compare.cpp
  ${CMAKE_CURRENT_LIST_DIR}/system_messages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_conversion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/text_out.cpp
  ${CMAKE_CURRENT_LIST_DIR}/thread_basics.cpp)
