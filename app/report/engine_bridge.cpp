#include "engine_bridge.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

#include "core/ff_log.h"
#include "core/main_thread.h"
#include "history_list.h"

namespace vidmill {

void InstallQtMainThreadPoster() {
  main_thread::Install([](std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;  // shutting down: nobody is left to run it
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
  });
}

void RemoveQtMainThreadPoster() { main_thread::Install(nullptr); }

void ConnectLoggerToHistory(TFFLogger& logger, THistoryList& history, QObject* owner) {
  QPointer<QObject> guard(owner);
  logger.SetOnLog([guard, &history](const TFFBaseComponent*, uint32_t thread_id, TLogLevel level,
                                    const std::string& message) {
    const QString text = QString::fromStdString(message);
    auto append = [guard, &history, thread_id, level, text] {
      if (guard) history.AppendLog(thread_id, level, text);
    };
    QObject* target = guard.data();
    if (!target) return;
    if (QThread::currentThread() == target->thread()) {
      append();
    } else {
      QMetaObject::invokeMethod(target, append, Qt::QueuedConnection);
    }
  });
}

void DisconnectLogger(TFFLogger& logger) { logger.SetOnLog(nullptr); }

}  // namespace vidmill
