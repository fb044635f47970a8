// The application's side of the engine's main-thread calls and logger.
//
// The engine has no Qt: it asks the application to run calls on the main
// thread through main_thread::Install, and hands log lines to
// TFFLogger::OnLog. These adapters carry both onto the Qt GUI thread.
#pragma once

class QObject;

namespace vidmill {

class TFFLogger;
class THistoryList;

// Installs a poster that queues engine calls to the GUI thread's event loop.
// Call once on the GUI thread after the QApplication exists.
void InstallQtMainThreadPoster();
// Removes it (before the QApplication goes away).
void RemoveQtMainThreadPoster();

// Appends every line of logger to history on the GUI thread, whatever thread
// logged it. Lines arriving after owner was destroyed are dropped; history
// must live as long as owner. Call DisconnectLogger before both go away.
void ConnectLoggerToHistory(TFFLogger& logger, THistoryList& history, QObject* owner);
void DisconnectLogger(TFFLogger& logger);

}  // namespace vidmill
