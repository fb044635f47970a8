// Calls carried over to the application's main thread.
//
// The engine has no window system of its own: the application installs a
// poster (for Qt, a queued call to the GUI thread) from its main thread.
// Without a poster, every call runs directly on the calling thread, which is
// what command-line tools and tests get.
//
// Synchronize() waits for the call; a main thread that itself waits for an
// engine worker must keep running those calls (WaitPumping), or the worker
// and the main thread would wait for each other.
#pragma once

#include <chrono>
#include <functional>

namespace vidmill::main_thread {

using Poster = std::function<void(std::function<void()>)>;

// Installs the poster and records the calling thread as the main thread.
// An empty poster removes it.
void Install(Poster poster);
bool Installed();
bool IsMainThread();

// Runs fn on the main thread without waiting (in posting order).
void Post(std::function<void()> fn);
// Runs fn on the main thread and waits until it has returned; runs it
// directly when called on the main thread or when no poster is installed.
void Synchronize(const std::function<void()>& fn);
// Main thread: runs the synchronised calls that are waiting.
void PumpPending();
// Main thread: waits until done() is true, running synchronised calls
// meanwhile. Other threads simply poll done().
void WaitPumping(const std::function<bool()>& done,
                 std::chrono::milliseconds poll = std::chrono::milliseconds(5));

}  // namespace vidmill::main_thread
