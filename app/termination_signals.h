// SIGTERM, SIGINT and SIGHUP close a window as its frame would, so that a desktop session's
// end or a kill runs the program's shutdown instead of leaving stale ports behind. Modal
// windows and message boxes open at the time (or opened afterwards) are closed as Cancel, so
// that the shutdown runs at once instead of when someone closes them.
#pragma once

class QWidget;

// From now on each of these signals asks window to close. Returns false when the signal pipe
// cannot be made (the signals then keep their default action). Call once.
bool CloseOnTerminationSignals(QWidget* window);
