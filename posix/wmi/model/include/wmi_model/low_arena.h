// Memory below 4 GiB for every object the WMI service hands out. Pointers cross to Java as
// 32-bit values, so on a 64-bit host the objects must live where 32 bits can name them. The
// arena takes one region under 2 GiB and, where the host allows, one at or above 2 GiB, and
// hands out blocks from the two in turn, so that sign extension is met by real pointers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velt::wmi {

// Reserves the regions (idempotent). Call before anything else maps low memory, such as the
// Java VM. Returns false when no region below 4 GiB could be had.
bool reserveLowArena();

// A block of at least `bytes` (at most 4096) below 4 GiB, or nullptr. Thread-safe.
void* lowArenaAllocate(std::size_t bytes);
// Gives a block back for reuse; `bytes` is the size it was asked for.
void lowArenaFree(void* block, std::size_t bytes);

// Whether the arena holds a region at or above 0x80000000 (not under AddressSanitizer, whose
// shadow memory occupies that range).
bool lowArenaHasHighRegion();

}  // namespace velt::wmi
