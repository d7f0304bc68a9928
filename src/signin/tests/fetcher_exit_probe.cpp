// Fetches from the URL given and lets the application end at once, one fetch
// finished and one still under way; then prints how many threads the network
// layer left behind, and whether the fetch under way was stopped and let go
// by its connection. Arguments: URL, CA certificate file to trust.
#include "signin/WSKHTTPFetcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThread>

#include <cstdio>

namespace {

qsizetype threadCount()
{
    return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3)
        return 2;
    const qsizetype threadsBefore = threadCount();
    std::shared_ptr<WSKHTTPFetcher> pending;
    {
        QCoreApplication app(argc, argv);
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificates(QSslCertificate::fromPath(QString::fromLocal8Bit(argv[2])));
        QSslConfiguration::setDefaultConfiguration(trusting);

        const QString url = QString::fromLocal8Bit(argv[1]);
        auto finished = WSKHTTPFetcher::fetcherWithURLString(url);
        OptionalError error = Error(QStringLiteral("probe"), 1);
        finished->beginFetchWithCompletionHandler([&](const QByteArray &, const OptionalError &e) { error = e; });
        if (!finished->waitForCompletionWithTimeout(30) || error) {
            std::fprintf(stderr, "fetch failed: %s\n", error ? qPrintable(error->toString()) : "timeout");
            return 1;
        }
        pending = WSKHTTPFetcher::fetcherWithURLString(url);
        pending->beginFetchWithCompletionHandler([](const QByteArray &, const OptionalError &) {});
        QCoreApplication::processEvents();
    }
    // A thread that has been joined may linger in the list for a moment; one
    // that was never told to end stays.
    QElapsedTimer elapsed;
    elapsed.start();
    while (threadCount() > threadsBefore && elapsed.elapsed() < 5000)
        QThread::msleep(1);
    std::printf("threads left %lld\n", static_cast<long long>(threadCount() - threadsBefore));
    std::printf("still fetching %d, other holders %ld\n", pending->isFetching() ? 1 : 0, pending.use_count() - 1);
    return 0;
}
