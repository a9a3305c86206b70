#include "app/activationmessage.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {
const QString VERSION_KEY = QStringLiteral("version");
const QString DIAL_KEY = QStringLiteral("dial");
} // namespace

QByteArray ActivationMessage::dial(const QString &link)
{
    QJsonObject message;
    message.insert(VERSION_KEY, VERSION);
    message.insert(DIAL_KEY, link);
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

bool ActivationMessage::read(const QByteArray &message, QString *link, QString *error)
{
    if (message.size() > MAX_BYTES) {
        *error = QStringLiteral("more than %1 bytes").arg(MAX_BYTES);
        return false;
    }
    QJsonParseError parse {};
    const QJsonDocument document = QJsonDocument::fromJson(message, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        *error = QStringLiteral("not a JSON object (%1 bytes)").arg(message.size());
        return false;
    }
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(VERSION_KEY);
    if (!version.isDouble()) {
        *error = QStringLiteral("no version");
        return false;
    }
    if (version.toDouble() != VERSION) {
        *error = QStringLiteral("version %1 not understood").arg(version.toDouble());
        return false;
    }
    const QJsonValue dial = object.value(DIAL_KEY);
    if (!dial.isString()) {
        *error = QStringLiteral("no text to dial");
        return false;
    }
    *link = dial.toString();
    return true;
}
