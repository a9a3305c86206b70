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
// connects to the channel, which raises the running window, and returns 0; it needs no display.
// Only a first start without a display says so and returns 1.
//
// A link or --dial number on the command line (DialRequest) goes to the window's slot
// slot_dial_link(QString) once the event loop runs, or, from a later start, over the channel to
// the running window's. A window without that slot dials nothing.
// `restarted`: the supervisor started the program again after a crash, with the arguments of
// the first start; a link among them was dialled then and is not dialled again.
int run(int &argc, char **argv, const std::function<QWidget *()> &makeWindow, bool restarted = false);
} // namespace SingleInstance
