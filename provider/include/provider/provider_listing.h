// The providers the jars beside the server offer, listed by the VM the server would start, for
// a check of the registrations against them.
#pragma once

#include <cstdio>

// Writes the Glue's listing to `out`, each line led by "provider\t"; a failure to start the VM
// or to list goes to `errors`. 0 on success.
int listJavaProviders(FILE* out, FILE* errors);
