// Keys of the settings table, by category, and of an incoming call's parameter map.
#pragma once

#include <QString>

// Account (category 1)
inline const QString KEY_ADDRESS = QStringLiteral("address");
inline const QString KEY_PORT = QStringLiteral("port");
inline const QString KEY_USER_ID = QStringLiteral("userId");
inline const QString KEY_PASSWORD = QStringLiteral("password");
// Secure transport, prepared by the administrator (no field in the account form): "transport"
// udp (absent), tcp or tls; "srtp" empty, optional or mandatory; "tlsCaFile" a PEM file of the
// CA that signed the server's certificate (absent: the system's CAs); "tlsVerify" 1 (absent) or 0.
inline const QString KEY_TRANSPORT = QStringLiteral("transport");
inline const QString KEY_SRTP = QStringLiteral("srtp");
inline const QString KEY_TLS_CA_FILE = QStringLiteral("tlsCaFile");
inline const QString KEY_TLS_VERIFY = QStringLiteral("tlsVerify");
inline const QString KEY_OPERATOR_ID = QStringLiteral("operatorId");
inline const QString KEY_OPERATOR_PW = QStringLiteral("operatorPW");
inline const QString KEY_OPERATOR_AUTO = QStringLiteral("operatorAuto");
inline const QString KEY_OPERATOR_ADDRESS = QStringLiteral("operatorAddress");

// Outlink (category 2); every check box of the outlink settings dialog is stored under its
// object name. The two methods are the values of the method keys.
inline const QString KEY_SIMPLE_URL = QStringLiteral("simpleUrl");
inline const QString KEY_SIMPLE_METHOD = QStringLiteral("simpleMethod");
inline const QString KEY_SIMPLE_PARAMS = QStringLiteral("simpleParams");
inline const QString KEY_DETAIL_URL = QStringLiteral("detailUrl");
inline const QString KEY_DETAIL_METHOD = QStringLiteral("detailMethod");
inline const QString KEY_DETAIL_PARAMS = QStringLiteral("detailParams");
inline const QString METHOD_GET = QStringLiteral("get");
inline const QString METHOD_POST = QStringLiteral("post");

// Audio (category 3)
inline const QString KEY_PLAYBACK = QStringLiteral("playback");
inline const QString KEY_RINGBACK = QStringLiteral("ringback");
inline const QString KEY_CAPTURE = QStringLiteral("capture");
inline const QString KEY_CAPTURE_GAIN = QStringLiteral("captureGain");

// General (category 4)
inline const QString KEY_ALWAYS_TOP = QStringLiteral("alwaysTop");
inline const QString KEY_DEBUG_MODEL = QStringLiteral("debugModel");
inline const QString KEY_HIDE_DELAY = QStringLiteral("dalayHiddenRemoteWindow");

// An incoming call's parameter map
inline const QString KEY_CALLER_NAME = QStringLiteral("callerName");
inline const QString KEY_CALLER_ID = QStringLiteral("callerId");
inline const QString KEY_CALL_ID = QStringLiteral("callId");
