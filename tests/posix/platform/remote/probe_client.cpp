// A client process of the probe class: activates it, reports the server's process id, and
// holds the object until its standard input closes.
#include <unistd.h>

#include <owners/com_ptr.h>

#include <cstdio>

#include "probe.h"

int main() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  registerRemoteProbeMarshaler();
  velt::ComPtr<IRemoteProbe> probe;
  HRESULT status = CoCreateInstance(CLSID_RemoteProbe, nullptr, CLSCTX_LOCAL_SERVER,
                                    IID_IRemoteProbe, probe.putVoid());
  if (FAILED(status)) {
    std::printf("failed 0x%08x\n", static_cast<unsigned>(status));
    return 2;
  }
  LONG pid = 0;
  if (FAILED(probe->ProcessId(&pid))) return 3;
  std::printf("pid %ld\n", static_cast<long>(pid));
  std::fflush(stdout);
  char ignored;
  while (read(STDIN_FILENO, &ignored, 1) > 0) {
  }
  probe.reset();
  CoUninitialize();
  return 0;
}
