// The provider's process-wide lock lives from before the entry until process exit.
#pragma once

// Deletes the lock the first time it runs; later runs do nothing. Registered to run at exit.
void deleteJvmLockOnce();
// Whether the deletion has been done.
bool jvmLockDeleted();
