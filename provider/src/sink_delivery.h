// What a served request sends to WMI's sink: one object per Indicate, and a final success.
// The sink's answers are not looked at: the request's outcome is already decided.
#pragma once

#include <wbemcli.h>

inline void indicateOne(IWbemObjectSink* sink, IWbemClassObject* object) {
  sink->Indicate(1, &object);
}

inline void completeWithSuccess(IWbemObjectSink* sink) {
  sink->SetStatus(WBEM_STATUS_COMPLETE, WBEM_S_NO_ERROR, nullptr, nullptr);
}
