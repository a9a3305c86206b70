// The application directory: the directory that holds the executable. Every file of the
// program (database, logs, sounds) lives below it.
#pragma once

#include <QString>

namespace AppDir {
// The directory holding the running executable, or the directory set for tests.
QString path();
// Full path of a suffix such as DB_FILE or LOG_DIR below the application directory.
QString file(const QString &suffix);
// Creates the data and log directories if missing; the data directory, which holds the
// passwords, is made readable by its owner only. False if the log directory cannot be made.
bool makeDataDirectories();
// Tests run from the build tree but need a fresh application directory each; only they call
// this. An empty path restores the executable's own directory.
void setPathForTesting(const QString &path);
} // namespace AppDir
