#include "live_map/router.h"
