#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace SingleInstance {
// Names are made per user so that two operators on one machine neither block nor raise
// each other's windows.
QString markerKey();
QString channelName();

// The whole start-up: the first instance of this user builds the application, makes the
// executable's directory current, shows the window that makeWindow creates, listens on the
// activation channel and runs the event loop (its result is returned). A later start only
// connects to the channel, which raises the running window, and returns 0.
int run(int &argc, char **argv, const std::function<QWidget *()> &makeWindow);
} // namespace SingleInstance
