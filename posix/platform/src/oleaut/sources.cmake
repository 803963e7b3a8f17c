target_sources(velt_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/bstr.cpp
  ${CMAKE_CURRENT_LIST_DIR}/com_error.cpp
  ${CMAKE_CURRENT_LIST_DIR}/safearray.cpp
  ${CMAKE_CURRENT_LIST_DIR}/variant.cpp
  ${CMAKE_CURRENT_LIST_DIR}/variant_change_type.cpp
  ${CMAKE_CURRENT_LIST_DIR}/variant_numeric.cpp
  ${CMAKE_CURRENT_LIST_DIR}/variant_text.cpp)
