// Why an Initialize failed, told to whoever waits on the init sink. The init sink's own status
// has no room for a text; a sink that also takes an IWbemObjectSink gets an __ExtendedStatus
// with the reason, any other learns the status alone.
#pragma once

#include <wbemcli.h>
#include <wbemprov.h>

#include <string>

void describeInitFailure(IWbemProviderInitSink* sink, IWbemServices* nameSpace,
                         IWbemContext* context, const std::string& reason);
