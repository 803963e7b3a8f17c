// The owners the provider holds its COM references, BSTRs and VARIANTs in within one call.
// Release happens where the call says so (reset) or, on an early way out, when the owner goes.
#pragma once

#include <owners/com_ptr.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>

using velt::ComPtr;
using velt::OwnedVariant;
using velt::UniqueBstr;
