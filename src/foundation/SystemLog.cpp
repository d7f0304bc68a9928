#include "foundation/SystemLog.h"

#include <mutex>

#include <syslog.h>

namespace {
std::mutex observerMutex;
std::function<void(const QString &)> observer;
} // namespace

void systemLog(const QString &line)
{
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("leafhaul", LOG_PID, LOG_USER); });
    syslog(LOG_NOTICE, "%s", line.toUtf8().constData());
    std::lock_guard lock(observerMutex);
    if (observer)
        observer(line);
}

void setSystemLogObserver(std::function<void(const QString &)> newObserver)
{
    std::lock_guard lock(observerMutex);
    observer = std::move(newObserver);
}
