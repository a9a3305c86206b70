// Where a person clicks: points inside the program's widgets, relative to the top-left corner of
// their window, taken from the forms (ui/mainwindow/mainwindow.ui, ui/outlink/remotesite.ui,
// ui/settings/settingwindow.ui, ui/history/historywindow.ui) and from what Qt's layouts make of
// them on the test display (checked against the screenshots).
#pragma once

#include <QList>
#include <QPoint>
#include <QSize>

namespace Bar {
inline const QSize SIZE(947, 58);
// mainFrame (3,3) + screenGroupBox (108,3) + onlineStatus (10,5,16,16): the lamp's middle.
inline const QPoint LAMP(3 + 108 + 10 + 8, 3 + 3 + 5 + 8);
// phoneNumberLabel (344,3,200,44) in mainFrame: the pointer rests here while typing.
inline const QPoint NUMBER(3 + 344 + 100, 3 + 3 + 22);
// The four call buttons share horizontalLayout5 (574,6,221,41, margins 11, spacing 6).
inline const QPoint DIAL(610, 35);
inline const QPoint HOLD(661, 35);
inline const QPoint TRANSFER(712, 35);
inline const QPoint HANG_UP(764, 35);
// buttonGroup (805,13) holds settingButton (0,0,45,25) and historyButton (44,0,45,25).
inline const QPoint HISTORY(3 + 805 + 44 + 22, 3 + 13 + 12);
// closeButton (900,0,31,21): hides the bar into the tray.
inline const QPoint CLOSE(3 + 900 + 15, 3 + 10);
} // namespace Bar

namespace CallerPage {
// The caller's page popup (RemoteSite, 440 x 370): siteFrame (10,20) holds the button row
// (10,270,401,61); without a detail page the row has two buttons, answer and hang up.
inline const QSize SIZE(440, 370);
inline const QPoint ANSWER(10 + 10 + 100, 20 + 270 + 30);
inline const QPoint HANG_UP(10 + 10 + 300, 20 + 270 + 30);
} // namespace CallerPage

namespace SettingForm {
// SettingWindow (413 x 344): the account tab's line edits (x 160, width 201, height 22) in
// groupBox (10,10) on the first tab page of tabWidget (5,5), whose tab bar takes the top.
inline const QSize SIZE(413, 344);
constexpr int PAGE_TOP = 5 + 26;
inline const QPoint ADDRESS(5 + 2 + 10 + 160 + 100, PAGE_TOP + 10 + 30 + 11);
inline const QPoint PORT(5 + 2 + 10 + 160 + 100, PAGE_TOP + 10 + 65 + 11);
inline const QPoint USER_ID(5 + 2 + 10 + 160 + 100, PAGE_TOP + 10 + 100 + 11);
inline const QPoint PASSWORD(5 + 2 + 10 + 160 + 100, PAGE_TOP + 10 + 135 + 11);
// saveButton (212,310,91,27).
inline const QPoint SAVE(212 + 45, 310 + 13);
} // namespace SettingForm

namespace BarMenu {
// The bar's right-click menu opens at the pointer; its last entry, 終了, lies this far below
// and right of it (eleven entries with two separators).
inline const QPoint EXIT(40, 217);
} // namespace BarMenu

namespace MessageBoxButtons {
// A question box with the buttons "はい" and "いいえ": their middles, relative to the box's
// bottom-right corner (the buttons sit at the bottom right).
inline const QPoint YES(-136, -23);
inline const QPoint NO(-45, -23);
} // namespace MessageBoxButtons

namespace HistoryForm {
// HistoryWindow (406 x 457): the tabs of tabWidget (10,10,397,401) in their order すべて, 着信,
// 発信, 不在着信, and the table of the current tab below the tab bar.
inline const QList<QPoint> TABS = { QPoint(40, 22), QPoint(90, 22), QPoint(135, 22), QPoint(195, 22) };
constexpr int TABLE_LEFT = 10 + 2;
constexpr int TABLE_WIDTH = 392;
constexpr int FIRST_ROW_TOP = 10 + 26 + 2 + 26; // tab bar, frame, header
constexpr int ROW_HEIGHT = 35;
constexpr int ROWS_VISIBLE = 9;
} // namespace HistoryForm
