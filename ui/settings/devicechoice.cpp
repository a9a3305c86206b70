#include "ui/settings/devicechoice.h"
#include "store/settingskeys.h"

#include <QComboBox>

namespace {

// Index of the last entry equal to the stored name, 0 when none is.
int storedIndex(const QStringList &names, const QString &stored)
{
    const int index = names.lastIndexOf(stored);
    return index < 0 ? 0 : index;
}
} // namespace

void DeviceChoice::fill(QComboBox *playback, QComboBox *ringback, QComboBox *capture,
    const QMap<QString, QStringList> &devices, const QMap<QString, QString> &audio)
{
    const QStringList players = devices.value(KEY_PLAYBACK);
    const QStringList recorders = devices.value(KEY_CAPTURE);
    playback->clear();
    ringback->clear();
    capture->clear();
    playback->addItems(players);
    ringback->addItems(players);
    capture->addItems(recorders);
    playback->setCurrentIndex(storedIndex(players, audio.value(KEY_PLAYBACK)));
    ringback->setCurrentIndex(storedIndex(players, audio.value(KEY_RINGBACK)));
    capture->setCurrentIndex(storedIndex(recorders, audio.value(KEY_CAPTURE)));
}

QMap<QString, QString> DeviceChoice::chosen(
    const QComboBox *playback, const QComboBox *ringback, const QComboBox *capture)
{
    return { { KEY_PLAYBACK, playback->currentText() }, { KEY_RINGBACK, ringback->currentText() },
        { KEY_CAPTURE, capture->currentText() } };
}
