// Process-wide text constants: product texts, paths, sounds, style sheets, menu and window
// texts, placeholders, database statements, status words and messages. Every other module
// refers to them by name; no UI text, key or path is repeated as a literal elsewhere.
#pragma once

#include <QString>
#include <QUrl>

// Identity and instance
extern const QString APP_VERSION;
extern const QString ABOUT_TITLE_FORMAT;
extern const QString COPYRIGHT_FORMAT;
extern const QString APP_TITLE;
extern const QString ABOUT_APP_NAME;
extern const QString USER_AGENT_NAME;
extern const QString SINGLE_INSTANCE_KEY;
extern const QString ACTIVATION_SERVER_NAME;
extern const QUrl PRODUCT_URL;
extern const QString APP_ICON;

// Files and directories; DATA_DIR and the paths built from it are appended to the
// application directory, never resolved against the current directory.
extern const QString DATA_DIR;
extern const QString DB_FILE;
extern const QString LOG_DIR;
extern const QString LOG_FILE_BASE;
extern const QString CORE_LOG_FILE;

// Sounds, relative to the application directory (the current directory after start-up)
extern const QString RING_SOUND;
extern const QString RINGBACK_SOUND;
extern const QString DTMF_SOUND_0;
extern const QString DTMF_SOUND_1;
extern const QString DTMF_SOUND_2;
extern const QString DTMF_SOUND_3;
extern const QString DTMF_SOUND_4;
extern const QString DTMF_SOUND_5;
extern const QString DTMF_SOUND_6;
extern const QString DTMF_SOUND_7;
extern const QString DTMF_SOUND_8;
extern const QString DTMF_SOUND_9;
extern const QString DTMF_SOUND_POUND;
extern const QString DTMF_SOUND_STAR;
extern const QString HANGUP_SOUND;
extern const QString FAILED_SOUND;
extern const QString HOLD_SOUND;

// Main window style sheets
extern const QString STYLE_DIAL_BUTTON;
extern const QString STYLE_PAUSE_BUTTON;
extern const QString STYLE_TRANSFER_BUTTON;
extern const QString STYLE_TERMINATE_BUTTON;
extern const QString STYLE_SETTING_BUTTON;
extern const QString STYLE_HISTORY_BUTTON;
extern const QString STYLE_DELETE_BUTTON;
extern const QString STYLE_DELETE_BUTTON_CLICKED;
extern const QString STYLE_MAIN_FRAME;
extern const QString STYLE_SCREEN_GROUP;
extern const QString STYLE_STATUS_ONLINE;
extern const QString STYLE_STATUS_OFFLINE;
extern const QString STYLE_PHONE_NUMBER_LABEL;
extern const QString STYLE_BUTTON_GROUP;

// Remote site and incoming call window style sheets
extern const QString STYLE_SITE_FRAME;
extern const QString STYLE_SITE_FRAME_SIMPLE;
extern const QString STYLE_SITE_DIAL_BUTTON;
extern const QString STYLE_SITE_DETAIL_BUTTON;
extern const QString STYLE_SITE_TERMINATE_BUTTON;

// Menu texts and window titles
extern const QString TEXT_SETTING;
extern const QString TEXT_HISTORY;
extern const QString TEXT_CALL;
extern const QString TEXT_HOLD;
extern const QString TEXT_TRANSFER;
extern const QString TEXT_HANGUP;
extern const QString TEXT_MINIMIZE;
extern const QString TEXT_OPEN;
extern const QString TEXT_EXIT;
extern const QString TEXT_VERSION_INFO;
extern const QString TITLE_ACCOUNT_SETTING;
extern const QString TITLE_OUTLINK_SETTING;
extern const QString TITLE_OTHER_SETTING;
extern const QString TITLE_SETTING;
extern const QString TITLE_OPERATOR_LOGIN;
extern const QString TITLE_HISTORY_LIST;

// History icons
extern const QString ICON_HISTORY_INCOMING;
extern const QString ICON_HISTORY_DECLINED;
extern const QString ICON_HISTORY_OUTGOING;
extern const QString ICON_HISTORY_OUTGOING_2;

// Outlink placeholders, matched exactly as written (case included)
extern const QString PH_CALLER_NAME;
extern const QString PH_CALLER_ID;
extern const QString PH_MY_ID;
extern const QString PH_CALL_ID;
extern const QString PH_OPE_ID;
extern const QString PH_OPE_PW;

// Database
extern const QString DB_DRIVER;
extern const QString DB_USER_NAME;
extern const QString DB_PASSWORD;
extern const QString SQL_CREATE_SETTINGS;
extern const QString SQL_CREATE_HISTORY;

// Registration status words carried by the engine's registration signal
extern const QString REG_STATUS_SUCCESSFUL;
extern const QString REG_STATUS_FAILED;
extern const QString REG_STATUS_PROGRESS;
extern const QString REG_STATUS_UNREGISTER;

// Status-line messages
extern const QString MSG_AUTHENTICATING;
extern const QString MSG_AUTH_FAILED;
extern const QString MSG_NOT_AUTHENTICATED;
extern const QString MSG_READY_TO_DIAL;
extern const QString MSG_CALLING;
extern const QString MSG_INCOMING;
extern const QString MSG_IN_CALL;
extern const QString MSG_ON_HOLD;
extern const QString MSG_REMOTE_HOLD;
extern const QString MSG_ENTER_TRANSFER_NUMBER;
extern const QString MSG_TRANSFER_CALLING;
extern const QString MSG_TRANSFER_IN_CALL;
extern const QString MSG_TRANSFER_ON_HOLD;
extern const QString MSG_TRANSFER_REMOTE_HOLD;
extern const QString MSG_NO_TRANSFER_SOURCE;
extern const QString MSG_ONLINE;
extern const QString MSG_TRANSFER_DONE;
extern const QString MSG_TRANSFER_UNKNOWN;

// CTI request
extern const QString CTI_SCHEME;
extern const QString CTI_PATH;
extern const QString CTI_ACTION_SET_OP_STATUS;

// Settings dialogs
extern const QString MSG_CANNOT_SET;
extern const QString MSG_CANNOT_SET_IN_CALL;
extern const QString HINT_PLAYBACK_DEVICE;
extern const QString HINT_RINGBACK_DEVICE;
extern const QString HINT_CAPTURE_DEVICE;
extern const QString HINT_CAPTURE_GAIN;

// Main window texts
extern const QString TITLE_CONFIRM_MESSAGE;
extern const QString TITLE_EXIT_CONFIRM;
extern const QString MSG_EXIT_CONFIRM;
extern const QString TEXT_YES;
extern const QString TEXT_NO;
extern const QString TEXT_NUMBER_INPUT_HINT;
extern const QString TEXT_TRAY_EXTENSION;
// The bar's status tooltip during a call whose media is encrypted.
extern const QString TEXT_MEDIA_ENCRYPTED;

// History window and its context menu (the tab and button texts are in the form)
extern const QString TITLE_DELETE_CONFIRM;
extern const QString MSG_DELETE_ALL_HISTORY;
extern const QString TEXT_HISTORY_DIAL;
extern const QString TEXT_HISTORY_DELETE;
// The history table's column headers, in column order (Id, Status, PhoneNumber, DialogTime,
// DialogDate, DeleteFlg)
extern const QString HEADER_HISTORY_ID;
extern const QString HEADER_HISTORY_STATUS;
extern const QString HEADER_HISTORY_PHONE_NUMBER;
extern const QString HEADER_HISTORY_DIALOG_TIME;
extern const QString HEADER_HISTORY_DIALOG_DATE;
extern const QString HEADER_HISTORY_DELETE_FLG;

// Operator status and settings windows
extern const QString TITLE_ERROR;
extern const QString MSG_CTI_AUTH_ERROR;
extern const QString MSG_CTI_SYSTEM_ERROR;
extern const QString MSG_CTI_SERVER_ERROR;
extern const QString MSG_CTI_NO_ANSWER;
extern const QString MSG_SET_OPERATOR_SERVER;
extern const QString MSG_ENTER_OPERATOR_CREDENTIALS;
extern const QString TITLE_SAVE_FAILED;
extern const QString MSG_SAVE_FAILED;

// Outlink windows: incoming call popup, outlink settings dialog
extern const QString TEXT_INCOMING_SUFFIX;
extern const QString TITLE_OPERATOR_PW_QUESTION;
extern const QString MSG_OPERATOR_PW_IN_URL;
