#include "ui/settings/portvalidator.h"

namespace {
constexpr int MAX_PORT = 65535;
}

PortValidator::PortValidator(QObject *parent)
    : QIntValidator(0, MAX_PORT, parent)
{ }

QValidator::State PortValidator::validate(QString &input, int &pos) const
{
    // QIntValidator also takes a sign and the locale's group separator ("+5060", "5,060"),
    // which would go into the SIP address as they are.
    for (const QChar c : qAsConst(input)) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return Invalid;
    }
    const State state = QIntValidator::validate(input, pos);
    if (state != Intermediate || input.isEmpty())
        return state;
    bool ok = false;
    const qlonglong value = input.toLongLong(&ok);
    return ok && (value > top() || value < bottom()) ? Invalid : state;
}
