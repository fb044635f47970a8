#include "task_thread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "core/main_thread.h"

namespace vidmill {

void ApplyThreadPriority(TThreadPriority priority) {
  int nice = 0;
  switch (priority) {
    case tpIdle: nice = 19; break;
    case tpLowest: nice = 10; break;
    case tpLower: nice = 5; break;
    default: return;  // normal and above: as the process runs
  }
  // On Linux a thread's nice value is set through its thread id.
  setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), nice);
}

TTaskThread::~TTaskThread() {
  broken_ = true;
  gate_.Open();
  Join();
}

void TTaskThread::Join() {
  std::thread thread;
  {
    std::lock_guard lock(thread_mu_);
    thread = std::move(thread_);
  }
  if (!thread.joinable()) return;
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();  // freed from its own body: nothing may wait for itself
  } else {
    thread.join();
  }
  has_thread_ = false;
}

bool TTaskThread::Start(bool use_thread, std::function<void()> body) {
  if (running_.load()) return false;
  Join();  // an earlier worker has returned: collect it
  broken_ = false;
  gate_.Reset();
  if (!use_thread) {
    body();
    return true;
  }
  running_ = true;
  has_thread_ = true;
  std::lock_guard lock(thread_mu_);
  thread_ = std::thread([this, body = std::move(body)] {
    try {
      body();
    } catch (...) {
      // The body reports its own failures; nothing may leave a thread.
    }
    running_ = false;
  });
  return true;
}

void TTaskThread::Stop(bool wait) {
  broken_ = true;
  gate_.Open();
  if (wait) WaitStopped();
}

void TTaskThread::WaitStopped() {
  if (OnWorkerThread()) return;
  main_thread::WaitPumping([this] { return !running_.load(); }, std::chrono::milliseconds(5));
}

bool TTaskThread::OnWorkerThread() const {
  std::lock_guard lock(thread_mu_);
  return thread_.joinable() && thread_.get_id() == std::this_thread::get_id();
}

}  // namespace vidmill
