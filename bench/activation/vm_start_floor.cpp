// The least a provider server's activation can cost: a process of the server's kind starting
// and the Java VM starting in it through the same runtime services, nothing else. Placed in the
// server's folder, so that it finds the same runtime and jars; writes "1" (or "0" when the VM
// did not start) to standard output once the VM runs, and ends.

#include <unistd.h>

#include <jvm/JvmServices.h>

int main() {
  JvmServices* services = JvmServices::acquire();
  const bool started = services != nullptr && services->startJvm() == 1;
  const char answer = started ? '1' : '0';
  const bool told = write(STDOUT_FILENO, &answer, 1) == 1;
  // The VM's teardown is no part of the floor, and the parent stops its clock at the byte.
  _exit(started && told ? 0 : 1);
}
