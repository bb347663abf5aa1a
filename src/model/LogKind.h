#pragma once

// Types of log-window entries. Negative types are errors (red), 0 information, 1..100
// warnings; above 100 the entry is drawn in Qt's global colour numbered type - 100.
namespace LogKind {
constexpr int LinkError = -1000; // receive and port errors of the board link
constexpr int Error = -1;        // applets and scripting
constexpr int Info = 0;          // the shell's own information
constexpr int Warning = 1;       // parameters that failed to write
constexpr int LinkInfo = 104;    // link state (dark grey)
constexpr int Received = 108;    // lines from the board (green)
constexpr int Transmitted = 109; // lines to the board (blue)
constexpr int PipeTraffic = 110; // scripting requests and answers (cyan)
} // namespace LogKind
