// The owners and text conversions the client handles COM pieces with: interface references,
// BSTRs, VARIANTs, and the UTF-8 text the terminal speaks.
#pragma once

#include <owners/com_ptr.h>
#include <owners/owned_variant.h>
#include <owners/unique_handle.h>
#include <owners/utf_text.h>

#include <wbemcli.h>

namespace veltwmi {

using velt::bstrFromUtf16;
using velt::bstrFromUtf8;
using velt::ComPtr;
using velt::OwnedVariant;
using velt::UniqueBstr;
using velt::utf16FromUtf8;
using velt::utf8FromUtf16;

}  // namespace veltwmi
