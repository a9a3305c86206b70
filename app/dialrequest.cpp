#include "app/dialrequest.h"

#include <QByteArray>
#include <QRegularExpression>

namespace {
const QString DIAL_OPTION = QStringLiteral("--dial");
const QString TEL = QStringLiteral("tel");
const QString SIP = QStringLiteral("sip");
const QString SIPS = QStringLiteral("sips");
const QString CALLTO = QStringLiteral("callto");
const QString VISUAL_SEPARATORS = QStringLiteral("-. ()");
constexpr int LOG_CHARS = 80;

// RFC 3986: scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ), then ":".
const QRegularExpression &schemePattern()
{
    static const QRegularExpression pattern(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    return pattern;
}

// What someone meant as a number but gave without --dial.
const QRegularExpression &looksLikeNumber()
{
    static const QRegularExpression pattern(QStringLiteral("^[+0-9*#(). -]+$"));
    return pattern;
}

QString scheme_of(const QString &text)
{
    const QRegularExpressionMatch match = schemePattern().match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

// Splits `text` at the first `separator`: the part before stays in `text`, the part after
// (without the separator) is returned; empty when there is none.
QString split_off(QString &text, QChar separator)
{
    const int at = text.indexOf(separator);
    if (at < 0)
        return QString();
    const QString rest = text.mid(at + 1);
    text.truncate(at);
    return rest;
}

DialRequest::Number refuse(const QString &why)
{
    DialRequest::Number result;
    result.refusal = why;
    return result;
}

// A telephone-subscriber (the body of a tel: link, or a sip user part): "number;param;param".
DialRequest::Number read_subscriber(QString subscriber, QStringList dropped)
{
    const QString parameters = split_off(subscriber, QLatin1Char(';'));
    if (!parameters.isEmpty()) {
        for (const QString &parameter : parameters.split(QLatin1Char(';'), Qt::SkipEmptyParts))
            dropped << QLatin1Char(';') + parameter;
    }
    QString number = QString::fromUtf8(QByteArray::fromPercentEncoding(subscriber.toUtf8()));
    for (const QChar separator : VISUAL_SEPARATORS)
        number.remove(separator);

    if (number.isEmpty())
        return refuse(QStringLiteral("no number in it"));
    const bool global = number.startsWith(QLatin1Char('+'));
    const QString digits = global ? number.mid(1) : number;
    if (digits.isEmpty())
        return refuse(QStringLiteral("no number in it"));
    for (const QChar c : digits) {
        if (!(c >= QLatin1Char('0') && c <= QLatin1Char('9')) && c != QLatin1Char('*')
            && c != QLatin1Char('#'))
            return refuse(QStringLiteral("\"%1\" is not a digit").arg(DialRequest::for_log(QString(c))));
    }
    if (number.size() > DialRequest::MAX_NUMBER_CHARS)
        return refuse(QStringLiteral("the number has %1 characters, more than %2")
                          .arg(number.size())
                          .arg(DialRequest::MAX_NUMBER_CHARS));
    DialRequest::Number result;
    result.number = number;
    result.dropped = dropped;
    return result;
}
} // namespace

DialRequest::Arguments DialRequest::from_arguments(const QStringList &arguments)
{
    Arguments result;
    const auto take = [&result](const QString &link) {
        if (result.link.isEmpty())
            result.link = link;
        else
            result.notes << QStringLiteral("only one number is dialled; %1 ignored").arg(for_log(link));
    };
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        QString number;
        if (argument == DIAL_OPTION) {
            if (i + 1 >= arguments.size()) {
                result.notes << QStringLiteral("--dial needs a number");
                continue;
            }
            number = arguments.at(++i);
        } else if (argument.startsWith(DIAL_OPTION + QLatin1Char('='))) {
            number = argument.mid(DIAL_OPTION.size() + 1);
        } else if (!scheme_of(argument).isEmpty()) {
            take(argument);
            continue;
        } else {
            if (looksLikeNumber().match(argument).hasMatch())
                result.notes
                    << QStringLiteral("%1 is not a link; to dial it: --dial %1").arg(for_log(argument));
            continue;
        }
        take(scheme_of(number).isEmpty() ? TEL + QLatin1Char(':') + number : number);
    }
    return result;
}

bool DialRequest::is_dial_scheme(const QString &scheme)
{
    const QString lower = scheme.toLower();
    return lower == TEL || lower == SIP || lower == SIPS || lower == CALLTO;
}

DialRequest::Number DialRequest::parse_link(const QString &link)
{
    if (link.size() > MAX_LINK_CHARS)
        return refuse(QStringLiteral("%1 characters, more than %2").arg(link.size()).arg(MAX_LINK_CHARS));
    const QString scheme = scheme_of(link);
    if (scheme.isEmpty())
        return refuse(QStringLiteral("not a link"));
    if (!is_dial_scheme(scheme))
        return refuse(QStringLiteral("%1: is not a phone link").arg(for_log(scheme.toLower())));

    QString body = link.mid(scheme.size() + 1);
    QStringList dropped;
    const QString lower = scheme.toLower();
    if (lower == CALLTO && body.startsWith(QLatin1String("//")))
        body.remove(0, 2);
    const QString headers = split_off(body, QLatin1Char('?'));
    if (!headers.isEmpty())
        dropped << QLatin1Char('?') + headers;
    if (lower == SIP || lower == SIPS) {
        // sip:user:password@host;uri-parameters: the user part is the number; the call goes to
        // the operator's own server whatever host the link names.
        const int at = body.indexOf(QLatin1Char('@'));
        if (at < 0)
            return refuse(QStringLiteral("no user part (number@host)"));
        QString user = body.left(at);
        const QString host = body.mid(at + 1);
        if (!split_off(user, QLatin1Char(':')).isEmpty())
            dropped << QStringLiteral("password");
        dropped << QStringLiteral("host ") + host;
        body = user;
    }
    return read_subscriber(body, dropped);
}

QString DialRequest::for_log(const QString &link)
{
    QString shown;
    for (const QChar c : link.left(LOG_CHARS)) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    if (link.size() > LOG_CHARS)
        shown += QStringLiteral("… (%1 characters)").arg(link.size());
    return shown;
}
