#include "app/WorkQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>

namespace {

struct PendingCall
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
};

struct State
{
    std::mutex mutex;
    std::set<std::shared_ptr<PendingCall>> waiting;
    std::atomic<bool> quitting{false};
    bool hooked = false;
};

// Never destroyed, like the pool: a worker released at quit may still look
// at it while the process exits.
State &state()
{
    static State *s = new State;
    return *s;
}

// Never deleted: the pool's destructor would wait for workers that may be
// blocked in network I/O, and quitting must not wait for them.
QThreadPool *pool()
{
    static QThreadPool *p = [] {
        auto *created = new QThreadPool;
        created->setMaxThreadCount(qMax(4, QThread::idealThreadCount()));
        return created;
    }();
    return p;
}

void abandonAll()
{
    State &s = state();
    std::set<std::shared_ptr<PendingCall>> waiting;
    {
        std::lock_guard lock(s.mutex);
        s.quitting = true;
        waiting.swap(s.waiting);
    }
    for (const auto &call : waiting) {
        std::lock_guard lock(call->mutex);
        call->abandoned = true;
        call->finished.notify_all();
    }
}

// Hooks the quit notice once, on the main thread.
void hookQuit()
{
    State &s = state();
    std::lock_guard lock(s.mutex);
    if (s.hooked || !QCoreApplication::instance())
        return;
    s.hooked = true;
    // A slot without a context object runs in the emitting (main) thread.
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, &abandonAll);
}

bool onMainThread()
{
    QCoreApplication *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace

namespace WorkQueue {

void runInBackground(std::function<void()> work)
{
    hookQuit();
    pool()->start(std::move(work));
}

void runOnMainThread(std::function<void()> call)
{
    if (isQuitting() || !QCoreApplication::instance())
        return;
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(call), Qt::QueuedConnection);
}

bool runOnMainThreadAndWait(std::function<void()> call)
{
    if (onMainThread()) {
        call();
        return true;
    }
    State &s = state();
    if (!QCoreApplication::instance())
        return false;
    auto pending = std::make_shared<PendingCall>();
    {
        std::lock_guard lock(s.mutex);
        if (s.quitting)
            return false;
        s.waiting.insert(pending);
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [pending, call = std::move(call)] {
            {
                std::lock_guard lock(pending->mutex);
                if (pending->abandoned)
                    return;
            }
            call();
            std::lock_guard lock(pending->mutex);
            pending->done = true;
            pending->finished.notify_all();
        },
        Qt::QueuedConnection);
    bool ran;
    {
        std::unique_lock lock(pending->mutex);
        pending->finished.wait(lock, [&] { return pending->done || pending->abandoned; });
        ran = pending->done;
    }
    std::lock_guard lock(s.mutex);
    s.waiting.erase(pending);
    return ran;
}

bool isQuitting()
{
    return state().quitting;
}

bool waitForBackgroundWork(int msecs)
{
    return pool()->waitForDone(msecs);
}

} // namespace WorkQueue
