#pragma once

#include <QtGlobal>

// Who asks for a parameter write or read. Only the internal key may write a
// read-only variable.
namespace CallerKey {
// Program code: configuration loading and the applets' own writes.
constexpr quint32 Internal = 0xFF001234u;
// Bound controls, scripting requests and the applets' reads.
constexpr quint32 External = 0xFF004321u;
} // namespace CallerKey
