// Keys of the outlink settings (category 2), of the account settings the outlink reads
// (category 1) and of an incoming call's parameter map.
#pragma once

#include <QString>

namespace OutlinkKeys {
// Outlink settings; every check box of the settings dialog is stored under its object name.
inline const QString SIMPLE_URL = QStringLiteral("simpleUrl");
inline const QString SIMPLE_METHOD = QStringLiteral("simpleMethod");
inline const QString SIMPLE_PARAMS = QStringLiteral("simpleParams");
inline const QString DETAIL_URL = QStringLiteral("detailUrl");
inline const QString DETAIL_METHOD = QStringLiteral("detailMethod");
inline const QString DETAIL_PARAMS = QStringLiteral("detailParams");
inline const QString METHOD_GET = QStringLiteral("get");
inline const QString METHOD_POST = QStringLiteral("post");

// Account settings
inline const QString USER_ID = QStringLiteral("userId");
inline const QString OPERATOR_ID = QStringLiteral("operatorId");
inline const QString OPERATOR_PW = QStringLiteral("operatorPW");

// Incoming call
inline const QString CALLER_NAME = QStringLiteral("callerName");
inline const QString CALLER_ID = QStringLiteral("callerId");
inline const QString CALL_ID = QStringLiteral("callId");
} // namespace OutlinkKeys
