#include "portvalidator.h"

namespace {
constexpr int MAX_PORT = 65535;
}

PortValidator::PortValidator(QObject *parent)
    : QIntValidator(0, MAX_PORT, parent)
{ }

QValidator::State PortValidator::validate(QString &input, int &pos) const
{
    const State state = QIntValidator::validate(input, pos);
    if (state != Intermediate || input.isEmpty())
        return state;
    bool ok = false;
    const qlonglong value = input.toLongLong(&ok);
    return ok && (value > top() || value < bottom()) ? Invalid : state;
}
