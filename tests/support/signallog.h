#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QStringList>
#include <QVariantList>

// Records every signal that the object's own class declares (not those of its base classes), in emission
// order across all its signals, on the thread that owns the log (the test thread). Unlike QSignalSpy, whose
// direct connection appends from the emitting thread, the connections are queued: a worker thread's signals
// arrive the way a main window would receive them, and reading the log races with nothing. Arguments of
// non-built-in types must be registered with qRegisterMetaType before the signals are emitted.
// QTRY_* macros (or any event processing) deliver the pending entries.
class SignalLog : public QObject
{
public:
    struct Entry
    {
        QByteArray name; // signal name without arguments, e.g. "signal_dialog_end"
        QVariantList args;
    };

    explicit SignalLog(QObject *target);

    QList<Entry> entries() const { return m_entries; }
    QStringList names() const; // signal names in emission order
    int count(const QByteArray &name) const;
    bool contains(const QByteArray &name) const { return count(name) > 0; }
    // Arguments of the last emission of that signal; empty when none.
    QVariantList last(const QByteArray &name) const;
    // The names from the first emission of `first` on, for order checks on one call's story.
    QStringList namesFrom(const QByteArray &first) const;
    // One line per entry, for failure messages.
    QString dump() const;
    void clear() { m_entries.clear(); }

    int qt_metacall(QMetaObject::Call call, int id, void **args) override;

private:
    QObject *m_target;
    QList<int> m_signalIndexes; // receiver slot id -> signal method index
    QList<Entry> m_entries;
};
