#pragma once

#include <QIntValidator>

// An integer validator for port numbers: ASCII digits only, and numbers above the range
// refused rather than merely flagged (QIntValidator lets "99999" be typed as an intermediate
// state, which would then be saved as the SIP port).
class PortValidator : public QIntValidator
{
public:
    explicit PortValidator(QObject *parent = nullptr);
    State validate(QString &input, int &pos) const override;
};
