#include "tests/support/signallog.h"

#include <QMetaMethod>

SignalLog::SignalLog(QObject *target)
    : m_target(target)
{
    const QMetaObject *meta = target->metaObject();
    // Each signal gets its own pseudo slot number above QObject's methods; qt_metacall maps it
    // back. The same technique QSignalSpy uses, with a queued connection instead.
    const int slotBase = QObject::staticMetaObject.methodCount();
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        if (meta->method(i).methodType() != QMetaMethod::Signal)
            continue;
        QMetaObject::connect(target, i, this, slotBase + m_signalIndexes.size(), Qt::QueuedConnection);
        m_signalIndexes.append(i);
    }
}

int SignalLog::qt_metacall(QMetaObject::Call call, int id, void **args)
{
    id = QObject::qt_metacall(call, id, args);
    if (id < 0 || call != QMetaObject::InvokeMetaMethod)
        return id;
    if (id < m_signalIndexes.size()) {
        const QMetaMethod method = m_target->metaObject()->method(m_signalIndexes.at(id));
        Entry entry;
        entry.name = method.name();
        for (int p = 0; p < method.parameterCount(); ++p)
            entry.args.append(QVariant(method.parameterType(p), args[p + 1]));
        m_entries.append(entry);
    }
    return -1;
}

QStringList SignalLog::names() const
{
    QStringList result;
    for (const Entry &entry : m_entries)
        result << QString::fromLatin1(entry.name);
    return result;
}

int SignalLog::count(const QByteArray &name) const
{
    int n = 0;
    for (const Entry &entry : m_entries)
        n += entry.name == name ? 1 : 0;
    return n;
}

QVariantList SignalLog::last(const QByteArray &name) const
{
    for (int i = m_entries.size() - 1; i >= 0; --i) {
        if (m_entries.at(i).name == name)
            return m_entries.at(i).args;
    }
    return QVariantList();
}

QStringList SignalLog::namesFrom(const QByteArray &first) const
{
    const QStringList all = names();
    const int start = all.indexOf(QString::fromLatin1(first));
    return start < 0 ? QStringList() : all.mid(start);
}

QString SignalLog::dump() const
{
    QString text;
    for (const Entry &entry : m_entries) {
        QStringList args;
        for (const QVariant &arg : entry.args)
            args << arg.toString();
        text += QString::fromLatin1(entry.name) + QLatin1Char('(') + args.join(QStringLiteral(", "))
            + QStringLiteral(")\n");
    }
    return text;
}
