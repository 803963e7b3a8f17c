# The registry: a persistent store of keys and values in one SQLite file.
target_sources(velt_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/sqlite_db.cpp
  ${CMAKE_CURRENT_LIST_DIR}/store_location.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_store.cpp
  ${CMAKE_CURRENT_LIST_DIR}/key_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_session.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reg_keys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reg_values.cpp)
target_link_libraries(velt_platform PRIVATE velt_sqlite)
