#include "tests/ui/outlink/outlinkfixture.h"
#include "tests/ui/support/modalanswer.h"

#include "app/constants.h"
#include "ui/outlink/outlinksetting.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTextEdit>
#include <QtTest>

using Settings = QMap<QString, QString>;

// The outlink settings window: loading the stored keys (toggles firing while loading change
// nothing), the placeholder toggles, the password question, save, cancel, close, and a save
// that the store refuses.
class tst_OutlinkSetting : public QObject
{
    Q_OBJECT

private:
    OutlinkStore *m_env = nullptr;
    OutlinkSetting *m_dialog = nullptr;

    template<typename T> T *w(const char *name) const
    {
        T *widget = m_dialog->findChild<T *>(name);
        Q_ASSERT(widget);
        return widget;
    }
    QCheckBox *box(const char *name) const { return w<QCheckBox>(name); }
    QTextEdit *edit(const char *name) const { return w<QTextEdit>(name); }

    static const QStringList &boxNames()
    {
        static const QStringList names = { "simpleCallerName", "simpleCallerId", "simpleMyId", "simpleCallId",
            "simpleOperatorId", "simpleOperatorPW", "detailCallerName", "detailCallerId", "detailMyId",
            "detailCallId", "detailOperatorId", "detailOperatorPW" };
        return names;
    }

private slots:
    void init()
    {
        m_env = new OutlinkStore;
        m_dialog = new OutlinkSetting(nullptr, m_env->store());
    }
    void cleanup()
    {
        delete m_dialog;
        m_dialog = nullptr;
        delete m_env;
        m_env = nullptr;
    }

    void nothingStoredShowsPostUntickedAndEmpty();
    void storedValuesLoadExactlyWithoutQuestion();
    void absentSimpleMethodShowsPostAndSavingStoresPost();
    void tickInsertsAtCursorUntickRemovesEveryOccurrence();
    void detailPasswordAsksFirst();
    void saveStoresTheEighteenKeysAndHides();
    void cancelAndCloseDiscardEdits();
    void refusedSaveWarnsAndKeepsWhatWasTyped();
};

void tst_OutlinkSetting::nothingStoredShowsPostUntickedAndEmpty()
{
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("外部連携設定"));
    QCOMPARE(m_dialog->windowType(), Qt::Window);
    QCOMPARE(m_dialog->size(), QSize(400, 323));
    m_dialog->show();
    QCOMPARE(w<QTabWidget>("tabWidget")->currentIndex(), 1);
    QVERIFY(w<QRadioButton>("simpleRadioPostButton")->isChecked());
    QVERIFY(w<QRadioButton>("detailRadioPostButton")->isChecked());
    QVERIFY(!w<QRadioButton>("simpleRadioGetButton")->isChecked());
    for (const QString &name : boxNames())
        QVERIFY2(!box(qPrintable(name))->isChecked(), qPrintable(name));
    QVERIFY(w<QLineEdit>("simpleUrl")->text().isEmpty());
    QVERIFY(edit("simpleParams")->toPlainText().isEmpty());
    QVERIFY(edit("detailParams")->toPlainText().isEmpty());
}

void tst_OutlinkSetting::storedValuesLoadExactlyWithoutQuestion()
{
    const QString simpleText = QStringLiteral("tel=%CallerID%\nname=<b>%CallerName%</b>\n\n  x=1 ");
    const QString detailText = QStringLiteral("id=%CallerID%&pw=%OpePW%");
    Settings stored = { { "simpleUrl", " http://crm.example/p " }, { "simpleMethod", "get" },
        { "simpleParams", simpleText }, { "detailUrl", "http://crm.example/d" }, { "detailMethod", "POST" },
        { "detailParams", detailText } };
    for (const QString &name : boxNames())
        stored.insert(name, "0");
    stored.insert("simpleCallerId", "1");
    stored.insert("simpleCallerName", "01");
    stored.insert("simpleMyId", "2");
    stored.insert("detailOperatorPW", "1");
    QVERIFY(m_env->store()->save_outlink_settings(stored));

    ModalAnswer answer(QMessageBox::No);
    m_dialog->show();
    QTest::qWait(100);
    QCOMPARE(answer.count(), 0);
    QCOMPARE(w<QLineEdit>("simpleUrl")->text(), QStringLiteral(" http://crm.example/p "));
    QVERIFY(w<QRadioButton>("simpleRadioGetButton")->isChecked());
    QVERIFY(w<QRadioButton>("detailRadioPostButton")->isChecked());
    QVERIFY(box("simpleCallerId")->isChecked());
    QVERIFY(box("simpleCallerName")->isChecked());
    QVERIFY(!box("simpleMyId")->isChecked());
    QVERIFY(box("detailOperatorPW")->isChecked());
    QCOMPARE(edit("simpleParams")->toPlainText(), simpleText);
    QCOMPARE(edit("detailParams")->toPlainText(), detailText);

    // Showing again after other values were stored reloads them, boxes unticked by the load
    // included, and the texts are still exactly the stored ones.
    m_dialog->hide();
    stored.insert("simpleCallerId", "0");
    stored.insert("simpleParams", "a=%CallerID%%CallerID%");
    QVERIFY(m_env->store()->save_outlink_settings(stored));
    m_dialog->show();
    QVERIFY(!box("simpleCallerId")->isChecked());
    QCOMPARE(edit("simpleParams")->toPlainText(), QStringLiteral("a=%CallerID%%CallerID%"));
}

void tst_OutlinkSetting::absentSimpleMethodShowsPostAndSavingStoresPost()
{
    QVERIFY(m_env->store()->save_outlink_settings({ { "simpleUrl", "http://crm.example/p" } }));
    m_dialog->show();
    QVERIFY(w<QRadioButton>("simpleRadioPostButton")->isChecked());
    w<QPushButton>("pushButton")->click();
    QCOMPARE(m_env->store()->get_outlink_settings().value("simpleMethod"), QStringLiteral("post"));
}

void tst_OutlinkSetting::tickInsertsAtCursorUntickRemovesEveryOccurrence()
{
    m_dialog->show();
    QTextEdit *params = edit("simpleParams");
    params->setPlainText(QStringLiteral("tel=12\nname="));
    QTextCursor cursor = params->textCursor();
    cursor.setPosition(5); // inside "12"
    params->setTextCursor(cursor);

    box("simpleCallerId")->click();
    QCOMPARE(params->toPlainText(), QStringLiteral("tel=1%CallerID%2\nname="));

    // A copy typed by hand goes with the untick too; the rest of the line stays.
    cursor.movePosition(QTextCursor::End);
    params->setTextCursor(cursor);
    params->insertPlainText(QStringLiteral("%CallerID%x"));
    box("simpleCallerId")->click();
    QCOMPARE(params->toPlainText(), QStringLiteral("tel=12\nname=x"));

    // Tick, untick, tick: exactly one placeholder, from the last tick.
    box("simpleOperatorPW")->click();
    box("simpleOperatorPW")->click();
    box("simpleOperatorPW")->click();
    QCOMPARE(params->toPlainText().count(PH_OPE_PW), 1);

    // Each box works on its own tab's text and its own placeholder.
    const QStringList detailBoxes
        = { "detailCallerName", "detailCallerId", "detailMyId", "detailCallId", "detailOperatorId" };
    const QStringList placeholders = { PH_CALLER_NAME, PH_CALLER_ID, PH_MY_ID, PH_CALL_ID, PH_OPE_ID };
    for (int i = 0; i < detailBoxes.size(); ++i) {
        edit("detailParams")->setPlainText(QStringLiteral("k="));
        edit("detailParams")->moveCursor(QTextCursor::End);
        box(qPrintable(detailBoxes[i]))->click();
        QCOMPARE(edit("detailParams")->toPlainText(), QStringLiteral("k=") + placeholders[i]);
        box(qPrintable(detailBoxes[i]))->click();
        QCOMPARE(edit("detailParams")->toPlainText(), QStringLiteral("k="));
    }
    QCOMPARE(params->toPlainText().count(PH_OPE_PW), 1);
}

void tst_OutlinkSetting::detailPasswordAsksFirst()
{
    m_dialog->show();
    QTextEdit *params = edit("detailParams");
    params->setPlainText(QStringLiteral("pw="));
    params->moveCursor(QTextCursor::End);

    {
        ModalAnswer answer(QMessageBox::No);
        box("detailOperatorPW")->click();
        QCOMPARE(answer.count(), 1);
        QCOMPARE(answer.title(), QStringLiteral("オペレータパスワード"));
        QCOMPARE(
            answer.text(), QStringLiteral("パスワードはURLに表示される形になりますが、よろしいでしょうか？"));
        QCOMPARE(answer.standardButtons(), QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(answer.defaultStandardButton(), QMessageBox::No);
        QCOMPARE(answer.boxParent(), nullptr);
    }
    QVERIFY(!box("detailOperatorPW")->isChecked());
    QCOMPARE(params->toPlainText(), QStringLiteral("pw="));

    {
        ModalAnswer answer(QMessageBox::Yes);
        box("detailOperatorPW")->click();
        QCOMPARE(answer.count(), 1);
    }
    QVERIFY(box("detailOperatorPW")->isChecked());
    QCOMPARE(params->toPlainText(), QStringLiteral("pw=%OpePW%"));

    {
        ModalAnswer answer(QMessageBox::Yes);
        box("detailOperatorPW")->click();
        QTest::qWait(100);
        QCOMPARE(answer.count(), 0);
    }
    QCOMPARE(params->toPlainText(), QStringLiteral("pw="));

    // The simple page's password box asks nothing.
    ModalAnswer none(QMessageBox::No);
    box("simpleOperatorPW")->click();
    QTest::qWait(100);
    QCOMPARE(none.count(), 0);
    QCOMPARE(edit("simpleParams")->toPlainText(), PH_OPE_PW);
}

void tst_OutlinkSetting::saveStoresTheEighteenKeysAndHides()
{
    Settings stored;
    for (const QString &name : boxNames())
        stored.insert(name, "1");
    stored.insert("detailOperatorPW", "0");
    QVERIFY(m_env->store()->save_outlink_settings(stored));

    m_dialog->show();
    w<QLineEdit>("simpleUrl")->setText(QStringLiteral(" http://crm.example/p "));
    w<QRadioButton>("simpleRadioGetButton")->click();
    w<QLineEdit>("detailUrl")->setText(QStringLiteral("http://crm.example/d"));
    box("detailOperatorId")->click(); // unticked
    edit("simpleParams")->setPlainText(QStringLiteral("tel=%CallerID%\n\nx=<i>1</i> "));
    edit("detailParams")->setPlainText(QStringLiteral("id=%CallerID%"));
    w<QPushButton>("pushButton")->click();
    QVERIFY(!m_dialog->isVisible());

    Settings expected = { { "simpleUrl", " http://crm.example/p " }, { "simpleMethod", "get" },
        { "simpleParams", "tel=%CallerID%\n\nx=<i>1</i> " }, { "detailUrl", "http://crm.example/d" },
        { "detailMethod", "post" }, { "detailParams", "id=%CallerID%" } };
    for (const QString &name : boxNames())
        expected.insert(name, "1");
    expected.insert("detailOperatorId", "0");
    expected.insert("detailOperatorPW", "0");
    QCOMPARE(m_env->store()->get_outlink_settings(), expected);

    // Written to the database, not only to the store's copy.
    QSqlQuery q(QStringLiteral("SELECT COUNT(*) FROM settings WHERE Category=2"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 18);
}

void tst_OutlinkSetting::cancelAndCloseDiscardEdits()
{
    QVERIFY(m_env->store()->save_outlink_settings(
        { { "simpleUrl", "http://stored/" }, { "simpleMethod", "get" } }));
    m_dialog->show();
    w<QLineEdit>("simpleUrl")->setText(QStringLiteral("http://edited/"));
    w<QRadioButton>("simpleRadioPostButton")->click();
    w<QPushButton>("pushButton_2")->click();
    QVERIFY(!m_dialog->isVisible());
    QCOMPARE(m_env->store()->get_outlink_settings().value("simpleUrl"), QStringLiteral("http://stored/"));
    m_dialog->show();
    QCOMPARE(w<QLineEdit>("simpleUrl")->text(), QStringLiteral("http://stored/"));
    QVERIFY(w<QRadioButton>("simpleRadioGetButton")->isChecked());

    // The window's own close only hides it; the object stays for the next show.
    QPointer<OutlinkSetting> alive(m_dialog);
    w<QLineEdit>("simpleUrl")->setText(QStringLiteral("http://edited/"));
    QVERIFY(m_dialog->close() == false);
    QVERIFY(!m_dialog->isVisible());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(alive);
    m_dialog->show();
    QCOMPARE(w<QLineEdit>("simpleUrl")->text(), QStringLiteral("http://stored/"));
}

void tst_OutlinkSetting::refusedSaveWarnsAndKeepsWhatWasTyped()
{
    m_dialog->show();
    w<QLineEdit>("simpleUrl")->setText(QStringLiteral("http://typed/"));
    edit("simpleParams")->setPlainText(QStringLiteral("tel=%CallerID%"));
    // The store can no longer write a setting.
    QSqlQuery drop;
    QVERIFY(drop.exec(QStringLiteral("DROP TABLE settings")));

    ModalAnswer answer(QMessageBox::Yes);
    w<QPushButton>("pushButton")->click();
    QCOMPARE(answer.count(), 1);
    QCOMPARE(answer.title(), TITLE_SAVE_FAILED);
    QCOMPARE(answer.text(), MSG_SAVE_FAILED);
    QCOMPARE(answer.standardButtons(), QMessageBox::StandardButtons(QMessageBox::Yes));
    QVERIFY(m_dialog->isVisible());
    QCOMPARE(w<QLineEdit>("simpleUrl")->text(), QStringLiteral("http://typed/"));
    QCOMPARE(edit("simpleParams")->toPlainText(), QStringLiteral("tel=%CallerID%"));
}

QTEST_MAIN(tst_OutlinkSetting)
#include "tst_outlinksetting.moc"
