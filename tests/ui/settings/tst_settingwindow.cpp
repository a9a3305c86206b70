// The setting windows against the real engine: the device lists PulseAudio's null sink gives,
// re-registration at a sipp registrar after a save, refusal during a real call, and what a
// failed database write leaves on screen.
#include "tests/phone/phonerig.h"
#include "tests/support/sipscenario.h"
#include "tests/ui/support/modalanswer.h"

#include "app/appdir.h"
#include "app/constants.h"
#include "phone/velphone.h"
#include "store/veldata.h"
#include "ui/settings/accountsetting.h"
#include "ui/settings/othersetting.h"
#include "ui/settings/settingwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using Settings = QMap<QString, QString>;

class tst_SettingWindow : public QObject
{
    Q_OBJECT

private:
    template<typename T> static T *child(QWidget *window, const char *name)
    {
        T *widget = window->findChild<T *>(QLatin1String(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }

    static QStringList items(QComboBox *box)
    {
        QStringList result;
        for (int i = 0; i < box->count(); ++i)
            result << box->itemText(i);
        return result;
    }

    // A database trigger refuses writes of one category, as a full disk would.
    static void refuseCategory(int category)
    {
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral(
            "CREATE TRIGGER refuse_ins_%1 BEFORE INSERT ON settings WHEN CAST(NEW.Category AS INTEGER)=%1 "
            "BEGIN SELECT RAISE(ABORT, 'disk full'); END")
                           .arg(category)));
        QVERIFY(q.exec(QStringLiteral(
            "CREATE TRIGGER refuse_upd_%1 BEFORE UPDATE ON settings WHEN CAST(NEW.Category AS INTEGER)=%1 "
            "BEGIN SELECT RAISE(ABORT, 'disk full'); END")
                           .arg(category)));
    }

    static void fillAccount(QWidget *w, const QString &port, const QString &user = PhoneRig::USER)
    {
        child<QLineEdit>(w, "address")->setText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>(w, "port")->setText(port);
        child<QLineEdit>(w, "userid")->setText(user);
        child<QLineEdit>(w, "password")->setText(PhoneRig::PASSWORD);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(PhoneRig::havePulse(), "run under scripts/test: it starts the PulseAudio null sink");
    }

    void showsStoredValuesAndRealDevices()
    {
        PhoneRig rig;
        // An account without port: complete enough to show, incomplete for the engine.
        rig.store()->save_account_settings({ { QStringLiteral("address"), QStringLiteral("pbx.local") },
            { QStringLiteral("userId"), QStringLiteral("1001") },
            { QStringLiteral("password"), QStringLiteral("pw") } });
        rig.saveAudio({ { QStringLiteral("playback"), QStringLiteral("no such speaker") },
            { QStringLiteral("captureGain"), QStringLiteral("7") } });
        rig.saveGeneral(QStringLiteral("alwaysTop"), QStringLiteral("1"));
        rig.startPhone();

        SettingWindow window(nullptr, rig.store(), rig.phone());
        QCOMPARE(window.windowTitle(), TITLE_SETTING);
        window.show();
        QCOMPARE(child<QLineEdit>(&window, "address")->text(), QStringLiteral("pbx.local"));
        QCOMPARE(child<QLineEdit>(&window, "port")->text(), QString());
        QCOMPARE(child<QLineEdit>(&window, "password")->echoMode(), QLineEdit::Password);

        const QMap<QString, QStringList> devices = rig.phone()->get_sound_devices();
        QVERIFY2(!devices.value(QStringLiteral("playback")).isEmpty(), "the null sink must be listed");
        auto *playback = child<QComboBox>(&window, "playbackComboBox");
        auto *ringback = child<QComboBox>(&window, "ringbackComboBox");
        auto *capture = child<QComboBox>(&window, "captureComboBox");
        QCOMPARE(items(playback), devices.value(QStringLiteral("playback")));
        // The ring device is chosen among the speakers, never among capture-only devices.
        QCOMPARE(items(ringback), devices.value(QStringLiteral("playback")));
        QCOMPARE(items(capture), devices.value(QStringLiteral("capture")));
        QCOMPARE(playback->currentIndex(), 0); // the stored speaker is gone: the first one

        QCOMPARE(child<QSlider>(&window, "captureGainSlider")->value(), 7);
        QCOMPARE(child<QLabel>(&window, "gainValueLabel")->text(), QStringLiteral("7"));
        QVERIFY(child<QCheckBox>(&window, "alwaysTop")->isChecked());
        QVERIFY(!child<QCheckBox>(&window, "debugModel")->isChecked());

        // The hints sit on the labels.
        QCOMPARE(child<QLabel>(&window, "captureLabel")->toolTip(), HINT_CAPTURE_DEVICE);
        QCOMPARE(child<QLabel>(&window, "ringbackLabel")->toolTip(), HINT_RINGBACK_DEVICE);
        QCOMPARE(child<QLabel>(&window, "playbackLabel")->toolTip(), HINT_PLAYBACK_DEVICE);
        QCOMPARE(child<QLabel>(&window, "captureGainLabel")->toolTip(), HINT_CAPTURE_GAIN);
        QVERIFY(playback->toolTip().isEmpty());

        // Only port numbers can be typed.
        auto *port = child<QLineEdit>(&window, "port");
        QTest::keyClicks(port, QStringLiteral("5a0-6.0"));
        QCOMPARE(port->text(), QStringLiteral("5060"));
        port->clear();
        QTest::keyClicks(port, QStringLiteral("99999"));
        QCOMPARE(port->text(), QStringLiteral("9999"));
        port->clear();
        QTest::keyClicks(port, QStringLiteral("65536"));
        QCOMPARE(port->text(), QStringLiteral("6553"));
        port->clear();
        QTest::keyClicks(port, QStringLiteral("65535"));
        QCOMPARE(port->text(), QStringLiteral("65535"));
        port->clear();
        QTest::keyClicks(port, QStringLiteral("+5,060 "));
        QCOMPARE(port->text(), QStringLiteral("5060"));
        port->clear();
        // Pasted text goes through the validator as a whole.
        port->insert(QStringLiteral("+5060"));
        port->insert(QStringLiteral("5,060"));
        QCOMPARE(port->text(), QString());

        child<QCheckBox>(&window, "showPassword")->setChecked(true);
        QCOMPARE(child<QLineEdit>(&window, "password")->echoMode(), QLineEdit::Normal);
        child<QSlider>(&window, "captureGainSlider")->setValue(3);
        QCOMPARE(child<QLabel>(&window, "gainValueLabel")->text(), QStringLiteral("3"));

        // Unsaved edits are gone after cancel and the next show.
        child<QLineEdit>(&window, "address")->setText(QStringLiteral("typed"));
        child<QPushButton>(&window, "cancelButton")->click();
        QVERIFY(window.isHidden());
        window.show();
        QCOMPARE(child<QLineEdit>(&window, "address")->text(), QStringLiteral("pbx.local"));
        QCOMPARE(child<QSlider>(&window, "captureGainSlider")->value(), 7);
        window.close();
        QVERIFY(window.isHidden());
        QCOMPARE(rig.store()->get_account_settings().value(QStringLiteral("address")),
            QStringLiteral("pbx.local"));
    }

    void saveOutsideCallRegistersTheNewAccount()
    {
        PhoneRig rig;
        SippPeer registrar(SippScenario::registrar());
        registrar.set(QStringLiteral("PASSWORD"), PhoneRig::PASSWORD);
        QVERIFY(registrar.start());
        rig.startPhone();

        SettingWindow window(nullptr, rig.store(), rig.phone());
        QSignalSpy reset(&window, &SettingWindow::signal_reset_operator_status);
        window.show();
        fillAccount(&window, QString::number(registrar.port()), QStringLiteral("2002"));
        child<QSlider>(&window, "captureGainSlider")->setValue(7);
        child<QCheckBox>(&window, "debugModel")->setChecked(true);
        child<QPushButton>(&window, "saveButton")->click();
        QVERIFY(window.isHidden());

        // No operator server stored: the reset carries an empty address (nothing is sent).
        QCOMPARE(reset.count(), 1);
        QCOMPARE(reset.at(0).at(0).toString(), QString());

        const Settings account = rig.store()->get_account_settings();
        QCOMPARE(account.value(QStringLiteral("userId")), QStringLiteral("2002"));
        QCOMPARE(account.value(QStringLiteral("port")), QString::number(registrar.port()));
        QCOMPARE(rig.store()->get_audio_settings().value(QStringLiteral("captureGain")), QStringLiteral("7"));
        QCOMPARE(
            rig.store()->get_general_settings().value(QStringLiteral("debugModel")), QStringLiteral("1"));
        QCOMPARE(rig.store()->get_general_settings().value(QStringLiteral("alwaysTop")), QStringLiteral("0"));

        // The engine registers the account just saved.
        QTRY_VERIFY2_WITH_TIMEOUT(rig.spy().contains("signal_show_operator_login"),
            qPrintable(rig.spy().dump() + registrar.report()), 10000);
        // The library writes From without the port it was given in the identity.
        const QString identity = QStringLiteral("sip:2002@127.0.0.1");
        const QString from
            = registrar.received(QStringLiteral("REGISTER")).last().header(QStringLiteral("From"));
        QVERIFY2(
            from.contains(identity), qPrintable(registrar.received(QStringLiteral("REGISTER")).last().text));
    }

    void saveDuringCallKeepsAccountStoresMedia()
    {
        PhoneRig rig;
        SippPeer registrar(SippScenario::registrar(
            SippScenario::answer(200, QStringLiteral("OK")) + SippScenario::expect(QStringLiteral("BYE"))));
        registrar.setCalls(2);
        registrar.set(QStringLiteral("PASSWORD"), PhoneRig::PASSWORD);
        registrar.set(QStringLiteral("PEER"), QStringLiteral("3000"));
        QVERIFY(registrar.start());
        rig.saveAccount(PhoneRig::USER, PhoneRig::PASSWORD, registrar.port());
        rig.startPhone();
        QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_show_operator_login"), 10000);
        rig.phone()->request_dial(QStringLiteral("3000"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_in_call(), 10000);
        const int registers = registrar.received(QStringLiteral("REGISTER")).size();

        SettingWindow window(nullptr, rig.store(), rig.phone());
        window.show();
        fillAccount(&window, QStringLiteral("5999"), QStringLiteral("9999"));
        child<QSlider>(&window, "captureGainSlider")->setValue(9);
        {
            ModalAnswer answer(QMessageBox::Yes);
            child<QPushButton>(&window, "saveButton")->click();
            QCOMPARE(answer.count(), 1);
            QCOMPARE(answer.title(), MSG_CANNOT_SET);
            QCOMPARE(answer.text(), MSG_CANNOT_SET_IN_CALL);
            QCOMPARE(answer.buttons().size(), 1);
        }
        QVERIFY(window.isHidden());
        QCOMPARE(rig.store()->get_account_settings().value(QStringLiteral("userId")), PhoneRig::USER);
        QCOMPARE(rig.store()->get_account_settings().value(QStringLiteral("port")),
            QString::number(registrar.port()));
        QCOMPARE(rig.store()->get_audio_settings().value(QStringLiteral("captureGain")), QStringLiteral("9"));
        QVERIFY(rig.phone()->is_in_call()); // the call is untouched

        rig.phone()->request_hangup();
        QTRY_VERIFY_WITH_TIMEOUT(rig.phone()->is_idle(), 10000);
        QCOMPARE(registrar.received(QStringLiteral("REGISTER")).size(), registers);
    }

    void failedSaveKeepsWhatWasTyped()
    {
        PhoneRig rig;
        SippPeer registrar(SippScenario::registrar());
        registrar.set(QStringLiteral("PASSWORD"), PhoneRig::PASSWORD);
        QVERIFY(registrar.start());
        rig.startPhone();
        refuseCategory(CATEGORY_ACCOUNT);
        QVERIFY(!rig.store()->save_account_settings({ { QStringLiteral("probe"), QStringLiteral("x") } }));

        SettingWindow window(nullptr, rig.store(), rig.phone());
        window.show();
        fillAccount(&window, QString::number(registrar.port()));
        {
            ModalAnswer answer(QMessageBox::Yes);
            child<QPushButton>(&window, "saveButton")->click();
            QCOMPARE(answer.count(), 1);
            QCOMPARE(answer.title(), TITLE_SAVE_FAILED);
            QCOMPARE(answer.icon(), QMessageBox::Warning);
        }
        QVERIFY(window.isVisible());
        QCOMPARE(child<QLineEdit>(&window, "userid")->text(), PhoneRig::USER);
        QVERIFY(rig.store()->get_account_settings().isEmpty());
        // The media part, which could be written, was.
        QVERIFY(rig.store()->get_audio_settings().contains(QStringLiteral("captureGain")));
        // No registration for an account that was never stored.
        QTest::qWait(1000);
        QVERIFY2(registrar.received(QStringLiteral("REGISTER")).isEmpty(), qPrintable(registrar.report()));
    }

    void accountDialog()
    {
        PhoneRig rig;
        SippPeer registrar(SippScenario::registrar());
        registrar.set(QStringLiteral("PASSWORD"), PhoneRig::PASSWORD);
        QVERIFY(registrar.start());
        rig.startPhone();

        AccountSetting dialog(nullptr, rig.store(), rig.phone());
        QCOMPARE(dialog.windowTitle(), TITLE_ACCOUNT_SETTING);
        dialog.show();
        auto *operatorAuto = child<QCheckBox>(&dialog, "operatorAuto");
        QVERIFY(!operatorAuto->isChecked());
        QCOMPARE(child<QLineEdit>(&dialog, "password")->echoMode(), QLineEdit::Password);
        QCOMPARE(child<QLineEdit>(&dialog, "operatorPW")->echoMode(), QLineEdit::Password);
        child<QCheckBox>(&dialog, "showSIPPasswrod")->setChecked(true);
        QCOMPARE(child<QLineEdit>(&dialog, "password")->echoMode(), QLineEdit::Normal);
        QCOMPARE(child<QLineEdit>(&dialog, "operatorPW")->echoMode(), QLineEdit::Password);

        fillAccount(&dialog, QString::number(registrar.port()));
        child<QLineEdit>(&dialog, "operatorId")->setText(QStringLiteral("op1"));
        child<QLineEdit>(&dialog, "operatorPW")->setText(QStringLiteral("a&b=c"));
        child<QPushButton>(&dialog, "pushButton")->click();
        QVERIFY(dialog.isVisible()); // stays open after saving
        const Settings account = rig.store()->get_account_settings();
        QCOMPARE(account.size(), 7);
        QCOMPARE(account.value(QStringLiteral("operatorPW")), QStringLiteral("a&b=c"));
        QCOMPARE(account.value(QStringLiteral("operatorAuto")), QStringLiteral("0"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.spy().contains("signal_show_operator_login"), 10000);

        // A stored "1" ticks the box; cancel and show reload the stored values.
        rig.store()->save_account_settings({ { QStringLiteral("operatorAuto"), QStringLiteral("1") } });
        child<QLineEdit>(&dialog, "address")->setText(QStringLiteral("typed"));
        child<QPushButton>(&dialog, "pushButton_2")->click();
        QVERIFY(dialog.isHidden());
        dialog.show();
        QVERIFY(operatorAuto->isChecked());
        QCOMPARE(child<QLineEdit>(&dialog, "address")->text(), QStringLiteral("127.0.0.1"));
    }

    void japaneseAndBracketedDeviceNamesRoundTrip()
    {
        // A second null sink whose name carries Japanese text and brackets, as USB headsets do.
        const QString description = QStringLiteral("スピーカー[予備]");
        QProcess load;
        load.start(QStringLiteral("pactl"),
            { QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                QStringLiteral("sink_name=tarsel_jp"),
                QStringLiteral("sink_properties=device.description=") + description });
        QVERIFY(load.waitForFinished(10000));
        const QString module = QString::fromUtf8(load.readAllStandardOutput()).trimmed();
        QVERIFY2(load.exitCode() == 0 && !module.isEmpty(), load.readAllStandardError().constData());
        struct Unload
        {
            QString module;
            ~Unload()
            {
                QProcess::execute(QStringLiteral("pactl"), { QStringLiteral("unload-module"), module });
            }
        } unload { module };

        PhoneRig rig;
        rig.startPhone();
        SettingWindow window(nullptr, rig.store(), rig.phone());
        window.show();
        auto *playback = child<QComboBox>(&window, "playbackComboBox");
        const int index = items(playback).indexOf(QStringLiteral("PulseAudio Unknown: ") + description);
        QVERIFY2(index >= 0, qPrintable(items(playback).join(QLatin1Char('|'))));
        const QString name = playback->itemText(index);
        playback->setCurrentIndex(index);
        child<QPushButton>(&window, "saveButton")->click();
        QCOMPARE(rig.store()->get_audio_settings().value(QStringLiteral("playback")), name);

        // Read back after a restart of the store and the engine: the same device is selected.
        rig.stopPhone();
        rig.startPhone();
        SettingWindow again(nullptr, rig.store(), rig.phone());
        again.show();
        QCOMPARE(child<QComboBox>(&again, "playbackComboBox")->currentText(), name);
    }

    void otherDialogSavesDevicesOnly()
    {
        PhoneRig rig;
        rig.saveAudio({ { QStringLiteral("captureGain"), QStringLiteral("4") } });
        rig.startPhone();
        OtherSetting dialog(nullptr, rig.store(), rig.phone());
        QCOMPARE(dialog.windowTitle(), TITLE_OTHER_SETTING);
        dialog.show();
        auto *playback = child<QComboBox>(&dialog, "playbackComboBox");
        QVERIFY(playback->count() > 0);
        const QString speaker = playback->itemText(playback->count() - 1);
        playback->setCurrentIndex(playback->count() - 1);
        child<QComboBox>(&dialog, "ringbackComboBox")->setCurrentIndex(playback->count() - 1);
        child<QPushButton>(&dialog, "pushButton")->click();
        QVERIFY(dialog.isHidden());
        const Settings audio = rig.store()->get_audio_settings();
        QCOMPARE(audio.value(QStringLiteral("playback")), speaker);
        QCOMPARE(audio.value(QStringLiteral("ringback")), speaker);
        QCOMPARE(audio.value(QStringLiteral("captureGain")), QStringLiteral("4")); // untouched
        dialog.show();
        QCOMPARE(playback->currentText(), speaker);
    }
};

QTEST_MAIN(tst_SettingWindow)
#include "tst_settingwindow.moc"
