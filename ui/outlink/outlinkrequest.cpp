#include "ui/outlink/outlinkrequest.h"

#include "app/constants.h"
#include "store/settingskeys.h"

#include <QStringList>
#include <QVector>

#include <algorithm>

namespace OutlinkRequest {

namespace {
// The placeholders in the order that decides between overlapping occurrences.
const QVector<const QString *> &ordered_placeholders()
{
    static const QVector<const QString *> order
        = { &PH_CALLER_NAME, &PH_CALLER_ID, &PH_MY_ID, &PH_CALL_ID, &PH_OPE_ID, &PH_OPE_PW };
    return order;
}

struct Match
{
    int position;
    int length;
    QString placeholder;
};

bool is_hex_digit(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        || (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

bool overlaps(const QVector<Match> &taken, int position, int length)
{
    for (const Match &m : taken) {
        if (position < m.position + m.length && m.position < position + length)
            return true;
    }
    return false;
}
} // namespace

Params placeholder_values(const Params &call, const Params &account)
{
    return {
        { PH_CALLER_NAME, call.value(KEY_CALLER_NAME) },
        { PH_CALLER_ID, call.value(KEY_CALLER_ID) },
        { PH_MY_ID, account.value(KEY_USER_ID) },
        { PH_CALL_ID, call.value(KEY_CALL_ID) },
        { PH_OPE_ID, account.value(KEY_OPERATOR_ID) },
        { PH_OPE_PW, account.value(KEY_OPERATOR_PW) },
    };
}

QString replace_placeholders(const QString &text, const Params &values)
{
    // All matches are found in the operator's text first and replaced afterwards, so nothing
    // that a value brings in can ever be taken for a placeholder.
    QVector<Match> taken;
    for (const QString *placeholder : ordered_placeholders()) {
        int from = 0;
        for (;;) {
            const int at = text.indexOf(*placeholder, from, Qt::CaseSensitive);
            if (at < 0)
                break;
            if (overlaps(taken, at, placeholder->size())) {
                from = at + 1;
                continue;
            }
            taken.append({ at, placeholder->size(), *placeholder });
            from = at + placeholder->size();
        }
    }
    std::sort(
        taken.begin(), taken.end(), [](const Match &a, const Match &b) { return a.position < b.position; });

    QString result;
    result.reserve(text.size());
    int copied = 0;
    for (const Match &m : taken) {
        result += text.midRef(copied, m.position - copied);
        result += QString::fromLatin1(QUrl::toPercentEncoding(values.value(m.placeholder)));
        copied = m.position + m.length;
    }
    result += text.midRef(copied);
    return result;
}

QString expand(const QString &text, const Params &values)
{
    return replace_placeholders(text, values)
        .split(QLatin1Char('\n'), Qt::KeepEmptyParts)
        .join(QLatin1Char('&'));
}

QString escape_stray_percent(const QString &url)
{
    QString result;
    result.reserve(url.size());
    for (int i = 0; i < url.size(); ++i) {
        const QChar c = url.at(i);
        if (c == QLatin1Char('%')
            && !(i + 2 < url.size() && is_hex_digit(url.at(i + 1)) && is_hex_digit(url.at(i + 2))))
            result += QLatin1String("%25");
        else
            result += c;
    }
    return result;
}

QString query_separator(const QString &base)
{
    return base.contains(QLatin1Char('?')) ? QStringLiteral("&") : QStringLiteral("?");
}

SimpleRequest simple_request(const Params &outlink, const Params &values)
{
    QString params = outlink.value(KEY_SIMPLE_PARAMS).trimmed();
    if (!params.isEmpty())
        params = expand(params, values);

    const QString base = outlink.value(KEY_SIMPLE_URL);
    SimpleRequest request;
    // Only the exact stored word selects POST; "POST" or anything else is a GET.
    request.post = outlink.value(KEY_SIMPLE_METHOD) == METHOD_POST;
    if (request.post) {
        request.url = QUrl(escape_stray_percent(base), QUrl::TolerantMode);
        request.body = params.toUtf8();
    } else {
        request.url = QUrl(escape_stray_percent(base + query_separator(base) + params), QUrl::TolerantMode);
    }
    return request;
}

QString detail_url(const QString &previous, const Params &outlink, const Params &values)
{
    const QString base = outlink.value(KEY_DETAIL_URL);
    if (base.isEmpty())
        return previous;
    const QString params = outlink.value(KEY_DETAIL_PARAMS);
    if (params.isEmpty())
        return escape_stray_percent(base);
    // Trimmed before expansion, like the simple page's text: blank lines around the text add no
    // empty fields, and a text of white space only leaves the link ending in its separator.
    return escape_stray_percent(base + query_separator(base) + expand(params.trimmed(), values));
}

} // namespace OutlinkRequest
