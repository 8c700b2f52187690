// placeholder
#include "core/subsystems.h"
