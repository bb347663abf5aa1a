#pragma once

#include <QLoggingCategory>

// Trace output of the application shell that is not a log-window entry.
Q_DECLARE_LOGGING_CATEGORY(lcShell)
