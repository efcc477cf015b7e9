#include "device/device.h"
#include "links/link_service.h"
