#include "live_map/connection_limits.h"
