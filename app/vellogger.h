#pragma once

#include <QObject>
#include <QString>

// The application's own log: one time-stamped line per message appended to
// data/logs/logger, rotated into numbered daily generations (logger1 newest … logger6)
// when an instance is constructed on a later day than the file was last written.
// Every instance writes to the same file; lines from different threads never mix.
// The levels callers give their lines: the logger accepts a level and writes every line alike.
inline constexpr int LEVEL_INFO = 1;
inline constexpr int LEVEL_WARNING = 2;

class VelLogger : public QObject
{
public:
    explicit VelLogger(QObject *parent = nullptr);

    // Appends "[yyyy-MM-dd hh:mm:ss] message". The level is accepted and has no effect.
    // A file that cannot be opened loses the line silently.
    void log(const QString &message, int level);

    // Path of the current log file.
    static QString filePath();

private:
    static void rotate();
};
