#include "ChipLog.h"

Q_LOGGING_CATEGORY(lcChip, "rmx.chip")
