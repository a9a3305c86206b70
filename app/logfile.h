// The program's log file in plain C++: written by the logger and by the launcher, which
// carries no Qt.
#pragma once

#include <string>

namespace LogFile {
// The log below the application directory.
inline constexpr char PATH_IN_APP_DIR[] = "/data/logs/logger";
// Generations kept by rotate(): `path`1 (newest) … `path`6.
inline constexpr int OLDEST_GENERATION = 6;

// A file last written on an earlier day becomes `path`1, older generations move up by one
// and the oldest is dropped. A rename whose target exists is skipped; the file then keeps
// growing until a later rotation succeeds.
void rotate(const std::string &path);
// Appends "[yyyy-MM-dd hh:mm:ss] message" and a line break in one write, local time. False
// when the file cannot be opened; the line is then lost.
bool append(const std::string &path, const std::string &message);
} // namespace LogFile
