// Rounds of every kind of request a client of the gadget provider makes (write, get, enumerate,
// query, call and a subscription that sees the write and ends when cancelled), each outcome
// checked: what the tests of many clients at once run in each client process, where it also
// shows that each kind of request crosses to the provider's process and back.
#pragma once

#include <wbemcli.h>

#include <string>

namespace velt::wmi::test {

// Runs `rounds` rounds on `ns` (a namespace serving the gadget MOF) with a gadget named `me`
// that only this caller writes; answers how many outcomes were wrong, each named on stderr.
int mixedRequests(IWbemServices* ns, const std::u16string& me, int rounds);

}  // namespace velt::wmi::test
