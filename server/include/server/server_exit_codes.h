// Exit codes of the server process.
#pragma once

constexpr int kExitOk = 0;
// COM could not be initialised; nothing else was done.
constexpr int kExitComFailed = 1;
// A registration run met a failed check; the debug output and the trace log name it.
constexpr int kExitRegistrationFailed = 2;
// A class factory could not be registered with COM; the server did not serve.
constexpr int kExitFactoriesFailed = 3;
// -ListProviders could not list what the jars serve; standard error says why.
constexpr int kExitListingFailed = 4;
