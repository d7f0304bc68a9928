// HTTPS from background tasks, then the process ends at once: with the pool's
// threads still exiting, or with the first `under-way` tasks still requesting
// (quitting during an import). Arguments: URL, CA file, tasks, under-way
// tasks. Exits 1 when a request that ended before the wait failed.

#include "app/WorkQueue.h"
#include "foundation/SyncHttp.h"

#include <QCoreApplication>

#include <atomic>

// Never destroyed: tasks under way use them while the process exits.
static QUrl *url;
static std::atomic<int> underWay, failures;
static std::atomic<bool> waited;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 5 || !SyncHttp::setExtraCaFile(QString::fromLocal8Bit(argv[2])))
        return 64;
    url = new QUrl(QString::fromLocal8Bit(argv[1]));
    underWay = atoi(argv[4]);
    for (int task = 0; task < atoi(argv[3]); ++task)
        WorkQueue::runInBackground([task] {
            // New connections: a handshake is where a thread spends longest in OpenSSL.
            for (int i = 0; i < 2 || task < underWay; ++i) {
                SyncHttp::Request get;
                get.url = *url;
                get.headers = {{"Connection", "close"}};
                const auto response = SyncHttp::send(get);
                if ((!response || response->status != 200) && !waited)
                    ++failures;
            }
        });
    WorkQueue::waitForBackgroundWork(underWay ? 100 : -1);
    waited = true;
    return failures ? 1 : 0;
}
