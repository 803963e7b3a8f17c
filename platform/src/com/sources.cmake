target_sources(velt_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/guid.cpp)
