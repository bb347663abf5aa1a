#pragma once

#include <QLoggingCategory>

// Definition faults and other model diagnostics.
Q_DECLARE_LOGGING_CATEGORY(lcModel)
