// Seconds as the command line gives them (`watch --for`, `sleep`), as a point on the clock.
#pragma once

#include <chrono>

namespace veltwmi {

// A wait of more than a century is as good as for ever. Clamping there, rather than refusing,
// lets `--for inf` mean what it says, and keeps the conversion to the clock's nanoseconds
// (which holds some 292 years) from overflowing for 1e10 or 1e300 seconds.
constexpr double kLongestWaitSeconds = 100.0 * 365.25 * 24 * 3600;

inline std::chrono::steady_clock::time_point deadlineAfter(
    double seconds, std::chrono::steady_clock::time_point from = std::chrono::steady_clock::now()) {
  if (!(seconds < kLongestWaitSeconds)) seconds = kLongestWaitSeconds;  // also inf
  if (!(seconds > 0)) seconds = 0;
  return from + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(seconds));
}

}  // namespace veltwmi
