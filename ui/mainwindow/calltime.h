#pragma once

#include <QDateTime>
#include <QString>
#include <QTime>

// Call times are shown, and stored in the history, one second ahead of the elapsed whole
// seconds: the first tick shows 00:00:01. A call of a day or more wraps to the start of the day.
inline QString call_time_between(const QDateTime &start, const QDateTime &now)
{
    return QTime(0, 0, 1).addSecs(int(start.secsTo(now) % 86400)).toString(QStringLiteral("hh:mm:ss"));
}
