#pragma once

#include <QIntValidator>

// An integer validator for port numbers that refuses, rather than merely flags, numbers above
// the range: QIntValidator lets "99999" be typed as an intermediate state, which would then be
// saved as the SIP port.
class PortValidator : public QIntValidator
{
public:
    explicit PortValidator(QObject *parent = nullptr);
    State validate(QString &input, int &pos) const override;
};
