#include "app/constants.h"
#include "app/logfile.h"

namespace {
// A button style: normal, hover and pressed images, in that order.
QString buttonStyle(const QString &image, const QString &margins = QString())
{
    const QString base = QStringLiteral(":/VELPhone/images/") + image;
    return QStringLiteral("QPushButton{") + margins + QStringLiteral("border-image: url(") + base
        + QStringLiteral(".png);}") + QStringLiteral("QPushButton:hover{border-image: url(") + base
        + QStringLiteral("_hover.png);}") + QStringLiteral("QPushButton:pressed{border-image: url(") + base
        + QStringLiteral("_clicked.png);}");
}

const QString SITE_BUTTON_MARGINS = QStringLiteral("margin-right:10px;margin-left:10px;");
} // namespace

const QString APP_VERSION = QStringLiteral("1.2.0");
const QString ABOUT_TITLE_FORMAT = QStringLiteral("Orvane Softphone Tarsel %1");
const QString COPYRIGHT_FORMAT = QStringLiteral("Copyright (C) %1 Orvane Tarsel developers");
const QString APP_TITLE = QStringLiteral("Orvane Tarsel");
const QString ABOUT_APP_NAME = QStringLiteral("Orvane Tarsel");
const QString USER_AGENT_NAME = QStringLiteral("Orvane Softphone Tarsel");
const QString SINGLE_INSTANCE_KEY = QStringLiteral("OrvanePhoneTarsel");
const QString ACTIVATION_SERVER_NAME = QStringLiteral("OrvanePhoneServerTarsel");
const QUrl PRODUCT_URL(QStringLiteral("http://www.orvane-tarsel.example/"));
const QString APP_ICON = QStringLiteral(":/VELPhone/images/icon.png");

const QString DATA_DIR = QStringLiteral("/data");
const QString DB_FILE = DATA_DIR + QStringLiteral("/velpdata");
const QString LOG_DIR = DATA_DIR + QStringLiteral("/logs");
// The launcher, which has no Qt, writes to the same file.
const QString LOG_FILE_BASE = QString::fromLatin1(LogFile::PATH_IN_APP_DIR);
const QString CORE_LOG_FILE = DATA_DIR + QStringLiteral("/logs/core.log");

const QString RING_SOUND = QStringLiteral("./share/sounds/ring.wav");
const QString RINGBACK_SOUND = QStringLiteral("./share/sounds/ringback.wav");
const QString DTMF_SOUND_0 = QStringLiteral("./share/sounds/dtmf-0.wav");
const QString DTMF_SOUND_1 = QStringLiteral("./share/sounds/dtmf-1.wav");
const QString DTMF_SOUND_2 = QStringLiteral("./share/sounds/dtmf-2.wav");
const QString DTMF_SOUND_3 = QStringLiteral("./share/sounds/dtmf-3.wav");
const QString DTMF_SOUND_4 = QStringLiteral("./share/sounds/dtmf-4.wav");
const QString DTMF_SOUND_5 = QStringLiteral("./share/sounds/dtmf-5.wav");
const QString DTMF_SOUND_6 = QStringLiteral("./share/sounds/dtmf-6.wav");
const QString DTMF_SOUND_7 = QStringLiteral("./share/sounds/dtmf-7.wav");
const QString DTMF_SOUND_8 = QStringLiteral("./share/sounds/dtmf-8.wav");
const QString DTMF_SOUND_9 = QStringLiteral("./share/sounds/dtmf-9.wav");
const QString DTMF_SOUND_POUND = QStringLiteral("./share/sounds/dtmf-pound.wav");
const QString DTMF_SOUND_STAR = QStringLiteral("./share/sounds/dtmf-star.wav");
const QString HANGUP_SOUND = QStringLiteral("./share/sounds/hangup.wav");
const QString FAILED_SOUND = QStringLiteral("./share/sounds/failed.wav");
const QString HOLD_SOUND = QStringLiteral("./share/sounds/hold.wav");

const QString STYLE_DIAL_BUTTON = buttonStyle(QStringLiteral("dialog"));
const QString STYLE_PAUSE_BUTTON = buttonStyle(QStringLiteral("pause"));
const QString STYLE_TRANSFER_BUTTON = buttonStyle(QStringLiteral("transfer"));
const QString STYLE_TERMINATE_BUTTON = buttonStyle(QStringLiteral("terminate"));
const QString STYLE_SETTING_BUTTON = buttonStyle(QStringLiteral("setting"));
const QString STYLE_HISTORY_BUTTON = buttonStyle(QStringLiteral("history"));
const QString STYLE_DELETE_BUTTON
    = QStringLiteral("QPushButton#deleteButton {border-image: url(:/VELPhone/images/delete.png)}");
const QString STYLE_DELETE_BUTTON_CLICKED
    = QStringLiteral("QPushButton#deleteButton {border-image: url(:/VELPhone/images/delete_clicked.png)}");
const QString STYLE_MAIN_FRAME
    = QStringLiteral("QFrame#mainFrame {border-image:url(:/VELPhone/images/main.png)}");
const QString STYLE_SCREEN_GROUP
    = QStringLiteral("QGroupBox#screenGroupBox {border-image:url(:/VELPhone/images/screen.png)}");
const QString STYLE_STATUS_ONLINE
    = QStringLiteral("QLabel#onlineStatus {border-image:url(:/VELPhone/images/online.png)}");
const QString STYLE_STATUS_OFFLINE
    = QStringLiteral("QLabel#onlineStatus {border-image:url(:/VELPhone/images/offline.png)}");
const QString STYLE_PHONE_NUMBER_LABEL
    = QStringLiteral("QLabel#phoneNumberLabel {border-image:url(:/VELPhone/images/number.png)}");
const QString STYLE_BUTTON_GROUP
    = QStringLiteral("QGroupBox#buttonGroup {border-image:url(:/VELPhone/images/button_group.png)}");

const QString STYLE_SITE_FRAME
    = QStringLiteral("QFrame#siteFrame {border-image:url(:/VELPhone/images/site.png)}");
const QString STYLE_SITE_FRAME_SIMPLE
    = QStringLiteral("QFrame#siteFrame {border-image:url(:/VELPhone/images/site_simple.png)}");
const QString STYLE_SITE_DIAL_BUTTON = buttonStyle(QStringLiteral("dialog"), SITE_BUTTON_MARGINS);
const QString STYLE_SITE_DETAIL_BUTTON = buttonStyle(QStringLiteral("site_detail"), SITE_BUTTON_MARGINS);
const QString STYLE_SITE_TERMINATE_BUTTON = buttonStyle(QStringLiteral("terminate"), SITE_BUTTON_MARGINS);

const QString TEXT_SETTING = QStringLiteral("設定");
const QString TEXT_HISTORY = QStringLiteral("履歴");
const QString TEXT_CALL = QStringLiteral("通話");
const QString TEXT_HOLD = QStringLiteral("保留");
const QString TEXT_TRANSFER = QStringLiteral("転送");
const QString TEXT_HANGUP = QStringLiteral("切断");
const QString TEXT_MINIMIZE = QStringLiteral("最小化");
const QString TEXT_OPEN = QStringLiteral("開く");
const QString TEXT_EXIT = QStringLiteral("終了");
const QString TEXT_VERSION_INFO = QStringLiteral("バージョン情報");
const QString TITLE_ACCOUNT_SETTING = QStringLiteral("アカウント設定");
const QString TITLE_OUTLINK_SETTING = QStringLiteral("外部連携設定");
const QString TITLE_OTHER_SETTING = QStringLiteral("その他設定");
const QString TITLE_SETTING = QStringLiteral("設定");
const QString TITLE_OPERATOR_LOGIN = QStringLiteral("オペレータログイン");
const QString TITLE_HISTORY_LIST = QStringLiteral("履歴一覧");

const QString ICON_HISTORY_INCOMING = QStringLiteral(":/VELPhone/images/income.png");
const QString ICON_HISTORY_DECLINED = QStringLiteral(":/VELPhone/images/declined.png");
const QString ICON_HISTORY_OUTGOING = QStringLiteral(":/VELPhone/images/out.png");
const QString ICON_HISTORY_OUTGOING_2 = QStringLiteral(":/VELPhone/images/out.png");

const QString PH_CALLER_NAME = QStringLiteral("%CallerName%");
const QString PH_CALLER_ID = QStringLiteral("%CallerID%");
const QString PH_MY_ID = QStringLiteral("%MyId%");
const QString PH_CALL_ID = QStringLiteral("%CallId%");
const QString PH_OPE_ID = QStringLiteral("%OpeId%");
const QString PH_OPE_PW = QStringLiteral("%OpePW%");

const QString DB_DRIVER = QStringLiteral("QSQLITE");
const QString DB_USER_NAME = QStringLiteral("velpdata");
const QString DB_PASSWORD = QStringLiteral("MoraTide");
const QString SQL_CREATE_SETTINGS
    = QStringLiteral("create table settings(Category varchar(2), Key varchar(255), Value varchar(255))");
const QString SQL_CREATE_HISTORY
    = QStringLiteral("create table history(Id integer PRIMARY KEY autoincrement, Status char(1), "
                     "PhoneNumber text, DialogTime varchar(8), DialogDate text, DeleteFlg char(1))");

const QString REG_STATUS_SUCCESSFUL = QStringLiteral("sucessful");
const QString REG_STATUS_FAILED = QStringLiteral("failed");
const QString REG_STATUS_PROGRESS = QStringLiteral("progress");
const QString REG_STATUS_UNREGISTER = QStringLiteral("unresigter");

const QString MSG_AUTHENTICATING = QStringLiteral("認証中・・・");
const QString MSG_AUTH_FAILED = QStringLiteral("認証失敗");
const QString MSG_NOT_AUTHENTICATED = QStringLiteral("未認証");
const QString MSG_READY_TO_DIAL = QStringLiteral("ダイヤルできます");
const QString MSG_CALLING = QStringLiteral("発信中");
const QString MSG_INCOMING = QStringLiteral("着信中");
const QString MSG_IN_CALL = QStringLiteral("通話中");
const QString MSG_ON_HOLD = QStringLiteral("保留中");
const QString MSG_REMOTE_HOLD = QStringLiteral("相手保留中");
const QString MSG_ENTER_TRANSFER_NUMBER = QStringLiteral("転送番号を入力してください");
const QString MSG_TRANSFER_CALLING = QStringLiteral("転送発信中");
const QString MSG_TRANSFER_IN_CALL = QStringLiteral("転送先通話中");
const QString MSG_TRANSFER_ON_HOLD = QStringLiteral("転送先保留中");
const QString MSG_TRANSFER_REMOTE_HOLD = QStringLiteral("転送先相手保留中");
const QString MSG_NO_TRANSFER_SOURCE = QStringLiteral("転送元がありません");
const QString MSG_ONLINE = QStringLiteral("オンライン");
const QString MSG_TRANSFER_DONE = QStringLiteral("転送完了しました");
// A blind transfer whose transferee never reported how its call to the target went.
const QString MSG_TRANSFER_UNKNOWN = QStringLiteral("転送結果不明");

const QString CTI_SCHEME = QStringLiteral("https://");
const QString CTI_PATH = QStringLiteral("/quick/actions/cti.php");
const QString CTI_ACTION_SET_OP_STATUS = QStringLiteral("set_op_status");

const QString MSG_CANNOT_SET = QStringLiteral("設定できません");
const QString MSG_CANNOT_SET_IN_CALL = QStringLiteral("通話中の場合は再設定できません。");
const QString HINT_PLAYBACK_DEVICE = QStringLiteral("通話で使用するスピーカーデバイスを指定します");
const QString HINT_RINGBACK_DEVICE = QStringLiteral("着信音を鳴らすデバイスを指定します");
const QString HINT_CAPTURE_DEVICE = QStringLiteral("通話で使用するマイクデバイスを指定します");
const QString HINT_CAPTURE_GAIN
    = QStringLiteral("マイクの感度を調節します\n※Windowsの音量調節とは独立しています");

const QString TITLE_CONFIRM_MESSAGE = QStringLiteral("確認メッセージ");
const QString TITLE_EXIT_CONFIRM = QStringLiteral("終了確認");
const QString MSG_EXIT_CONFIRM = QStringLiteral("終了しますか？");
const QString TEXT_YES = QStringLiteral("はい");
const QString TEXT_NO = QStringLiteral("いいえ");
const QString TEXT_NUMBER_INPUT_HINT = QStringLiteral("番号を入力してください");
const QString TEXT_TRAY_EXTENSION = QStringLiteral(" 内線：");
const QString TEXT_MEDIA_ENCRYPTED = QStringLiteral("通話の音声は暗号化されています (SRTP)");

// History window and its context menu
const QString TITLE_DELETE_CONFIRM = QStringLiteral("削除確認");
const QString MSG_DELETE_ALL_HISTORY = QStringLiteral("すべて削除してよろしいでしょうか？");
const QString TEXT_HISTORY_DIAL = QStringLiteral("発信");
const QString TEXT_HISTORY_DELETE = QStringLiteral("削除");
const QString HEADER_HISTORY_ID = QStringLiteral("ID");
const QString HEADER_HISTORY_STATUS = QStringLiteral("種類");
const QString HEADER_HISTORY_PHONE_NUMBER = QStringLiteral("電話番号");
const QString HEADER_HISTORY_DIALOG_TIME = QStringLiteral("通話時間");
const QString HEADER_HISTORY_DIALOG_DATE = QStringLiteral("日付");
const QString HEADER_HISTORY_DELETE_FLG = QStringLiteral("選択");

// Operator status and settings windows
const QString TITLE_ERROR = QStringLiteral("エラー");
const QString MSG_CTI_AUTH_ERROR = QStringLiteral("認証エラー\n");
const QString MSG_CTI_SYSTEM_ERROR = QStringLiteral("システムエラー\n");
const QString MSG_CTI_SERVER_ERROR = QStringLiteral("サーバエラー\n");
// Follows MSG_CTI_SERVER_ERROR when the server did not answer within the request's time-out.
const QString MSG_CTI_NO_ANSWER = QStringLiteral("サーバから時間内に応答がありませんでした");
const QString MSG_SET_OPERATOR_SERVER = QStringLiteral("設定画面でオペレータサーバを設定してください");
const QString MSG_ENTER_OPERATOR_CREDENTIALS
    = QStringLiteral("オペレータユーザ名とオペレータパスワードを入力してください");
const QString TITLE_SAVE_FAILED = QStringLiteral("保存できません");
const QString MSG_SAVE_FAILED
    = QStringLiteral("設定をデータベースに保存できませんでした。入力した内容はこの画面に残っています。");

// Outlink windows: incoming call popup, outlink settings dialog
const QString TEXT_INCOMING_SUFFIX = QStringLiteral(" から着信中・・・");
const QString TITLE_OPERATOR_PW_QUESTION = QStringLiteral("オペレータパスワード");
const QString MSG_OPERATOR_PW_IN_URL
    = QStringLiteral("パスワードはURLに表示される形になりますが、よろしいでしょうか？");
