#include "ShellLog.h"

Q_LOGGING_CATEGORY(lcShell, "rmx.shell")
