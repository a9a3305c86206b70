#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

class QComboBox;

// The three sound-device boxes shared by the setting windows: speaker and ring device offer
// the devices that can play, the microphone box those that can capture.
namespace DeviceChoice {
// Fills the boxes from the engine's lists ("playback", "capture") and selects the stored
// names of the audio settings; a stored name that is not listed selects the first entry.
void fill(QComboBox *playback, QComboBox *ringback, QComboBox *capture,
    const QMap<QString, QStringList> &devices, const QMap<QString, QString> &audio);
// The boxes' current texts under the keys "playback", "ringback" and "capture".
QMap<QString, QString> chosen(const QComboBox *playback, const QComboBox *ringback, const QComboBox *capture);
} // namespace DeviceChoice
