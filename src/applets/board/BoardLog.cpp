#include "BoardLog.h"

Q_LOGGING_CATEGORY(lcBoard, "rmx.board")
