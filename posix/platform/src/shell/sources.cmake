# Shell folders: the known folders mapped onto the XDG base directories.
target_sources(velt_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/xdg_dirs.cpp
  ${CMAKE_CURRENT_LIST_DIR}/folder_path.cpp)
