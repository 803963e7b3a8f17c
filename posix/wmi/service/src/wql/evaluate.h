// Whether an object meets a query's condition, with WMI's typing: numbers compare as numbers
// (64-bit ones exactly), strings without regard to case, and a NULL property meets nothing but
// IS NULL.
#pragma once

#include <wbemcli.h>

#include "wql/query.h"

namespace velt::wql {

bool matches(const Condition& condition, IWbemClassObject* object);

}  // namespace velt::wql
