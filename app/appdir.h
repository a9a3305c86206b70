// The application directory: the directory that holds the executable. Every file of the
// program (database, logs, sounds) lives below it.
#pragma once

#include <QString>

namespace AppDir {
// The directory holding the running executable, or the directory set for tests.
QString path();
// Full path of a suffix such as DB_FILE or LOG_DIR below the application directory.
QString file(const QString &suffix);
// Tests run from the build tree but need a fresh application directory each; only they call
// this. An empty path restores the executable's own directory.
void setPathForTesting(const QString &path);
} // namespace AppDir
