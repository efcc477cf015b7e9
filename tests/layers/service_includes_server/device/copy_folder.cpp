#include "core/text.h"
#include "server/config_object.h"
