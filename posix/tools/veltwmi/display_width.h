// How many terminal columns UTF-8 text takes: East Asian wide characters two, combining marks
// and other zero-width characters none.
#pragma once

#include <cstddef>
#include <string_view>

namespace veltwmi {

// A byte that is no part of valid UTF-8 counts as one column, as terminals show a stand-in.
std::size_t displayWidth(std::string_view utf8);

}  // namespace veltwmi
