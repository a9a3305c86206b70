// What a later start may send over the activation channel: one small JSON object, versioned,
// e.g. {"version":1,"dial":"tel:03-1234-5678"}. A connection that sends nothing (what a plain
// second start does) only raises the running bar.
#pragma once

#include <QByteArray>
#include <QString>

namespace ActivationMessage {

constexpr int VERSION = 1;
// Anything longer is not one of ours and is dropped unread.
constexpr int MAX_BYTES = 4096;

// The message that hands over a link (or number) to dial, as the start was given it.
QByteArray dial(const QString &link);

// Reads a message: true with the link to dial, or false with the reason in `error`.
bool read(const QByteArray &message, QString *link, QString *error);

} // namespace ActivationMessage
