// Ctrl-C and SIGTERM: the first one asks the running request or watch to end; waits look at the
// flag between their short waits, so no request is torn down from inside a signal handler.
#pragma once

namespace veltwmi {

void installInterruptHandler();
bool interrupted();
void setInterrupted(bool value);  // tests and the batch runner reset it

}  // namespace veltwmi
