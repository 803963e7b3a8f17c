// POSIX stand-in for the SDK header of the same name.
#pragma once
#include "winplatform/guiddef.h"
