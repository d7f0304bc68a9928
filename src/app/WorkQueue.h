#pragma once

#include <functional>

// Background work and the way back to the main thread.
//
// Work submitted with runInBackground() runs on a process-wide thread pool.
// From there, runOnMainThread() posts a call to the main thread and goes on;
// runOnMainThreadAndWait() posts one and waits until it has run. Both post to
// the same queue, so the main thread runs them in the order they were posted.
//
// Once the application is quitting, waiting posts are abandoned: the waiting
// worker is released (the call returns false) and the posted call never runs,
// so quitting never waits on a worker blocked in a main-thread call.
//
// The process may end with workers still running, or with the pool's threads
// still exiting after their work (their thread-local clean-up included):
// nothing they use is freed at exit. The pool and its state never are, nor is
// OpenSSL's state (SyncHttp.cpp).
namespace WorkQueue {

void runInBackground(std::function<void()> work);

void runOnMainThread(std::function<void()> call);

// Returns true when the call ran, false when it was abandoned at quit. On the
// main thread the call runs at once.
bool runOnMainThreadAndWait(std::function<void()> call);

// True once the application has begun to quit.
bool isQuitting();

// Waits until no background work is left, up to `msecs` (-1: no limit).
// Returns true when none is left; the threads that ran it may still be
// exiting. For tests and benchmarks.
bool waitForBackgroundWork(int msecs = -1);

} // namespace WorkQueue
