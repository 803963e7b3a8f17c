// The one definition of the provider's class identifier (the header alone only declares it
// against the SDK).
#include <initguid.h>

#include "provider/provider_class_id.h"
