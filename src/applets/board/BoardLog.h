#pragma once

#include <QLoggingCategory>

// Trace output of the board applets (not log-window entries).
Q_DECLARE_LOGGING_CATEGORY(lcBoard)
