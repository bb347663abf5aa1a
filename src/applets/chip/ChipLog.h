#pragma once

#include <QLoggingCategory>

// Trace output of the chip register applets (not log-window entries).
Q_DECLARE_LOGGING_CATEGORY(lcChip)
