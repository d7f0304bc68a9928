// The background queue's way back to the main thread: order, quitting while
// a worker waits on the main thread, and ending the process after HTTPS work.

#include "ImporterTestSupport.h"

#include "testsupport/LocalService.h"
#include "testsupport/TestCertificateAuthority.h"

#include <QMetaObject>
#include <QProcess>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace {

bool onMainThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

using importertest::pumpUntil;

TEST(WorkQueue, PostsRunOnTheMainThreadInPostingOrder)
{
    std::mutex mutex;
    QStringList ran;
    bool allOnMain = true;
    QList<bool> waited;
    const auto step = [&](const QString &name) {
        return [&, name] {
            allOnMain = allOnMain && onMainThread();
            std::lock_guard lock(mutex);
            ran << name;
        };
    };
    WorkQueue::runInBackground([&] {
        EXPECT_FALSE(onMainThread());
        for (int i = 0; i < 20; ++i) {
            WorkQueue::runOnMainThread(step(QStringLiteral("post %1").arg(i)));
            if (i % 3 == 0)
                waited << WorkQueue::runOnMainThreadAndWait(step(QStringLiteral("wait %1").arg(i)));
        }
        WorkQueue::runOnMainThread(step(QStringLiteral("last")));
    });
    pumpUntil([&] {
        std::lock_guard lock(mutex);
        return ran.contains(QStringLiteral("last"));
    });
    ASSERT_TRUE(WorkQueue::waitForBackgroundWork(10000));
    QStringList expected;
    for (int i = 0; i < 20; ++i) {
        expected << QStringLiteral("post %1").arg(i);
        if (i % 3 == 0)
            expected << QStringLiteral("wait %1").arg(i);
    }
    expected << QStringLiteral("last");
    EXPECT_EQ(ran, expected);
    EXPECT_TRUE(allOnMain);
    EXPECT_EQ(waited, QList<bool>(7, true));
}

TEST(WorkQueue, WaitingCallOnTheMainThreadRunsAtOnce)
{
    bool ran = false;
    EXPECT_TRUE(WorkQueue::runOnMainThreadAndWait([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

// Quitting releases a worker blocked in a main-thread call; the call never
// runs, and later waiting posts are refused at once. In a child process:
// quitting cannot be undone.
TEST(WorkQueueDeathTest, QuittingReleasesAWaitingWorker)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto quitWhileAWorkerWaits = [] {
        std::atomic<int> stage{0};
        std::atomic<bool> blockedCallRan{false};
        std::atomic<bool> firstResult{true}, laterResult{true};
        WorkQueue::runInBackground([&] {
            stage = 1;
            firstResult = WorkQueue::runOnMainThreadAndWait([&] { blockedCallRan = true; });
            laterResult = WorkQueue::runOnMainThreadAndWait([&] { blockedCallRan = true; });
            stage = 2;
        });
        // The main thread does not turn its loop: the worker stays blocked.
        while (stage == 0)
            QThread::msleep(5);
        QThread::msleep(100);
        QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
        const bool released = WorkQueue::waitForBackgroundWork(10000);
        QCoreApplication::processEvents();
        const bool ok = released && stage == 2 && !firstResult && !laterResult && !blockedCallRan
                        && WorkQueue::isQuitting();
        std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(quitWhileAWorkerWaits(), ::testing::ExitedWithCode(0), "");
}

// Ending right after HTTPS work, the pool's threads still exiting or some
// still inside requests (quitting during an import), is clean. Many runs, four
// at once for load: a crash there came in a fraction of them.
TEST(WorkQueue, ProcessEndsCleanlyRightAfterHttpsWork)
{
    const auto &ca = TestCertificateAuthority::shared();
    LocalService service;
    ASSERT_TRUE(
        service.startPython(QStringLiteral(LEAFHAUL_SOURCE_DIR "/src/foundation/tests/http_fake.py"), ca.serverArgs()));
    const QString url = QStringLiteral("https://127.0.0.1:%1/bytes/10").arg(service.port());
    for (int round = 0; round < 8; ++round) {
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int i = 0; i < 4; ++i) {
            runs.push_back(std::make_unique<QProcess>());
            runs.back()->start(QStringLiteral(EXIT_AFTER_TLS), {url, ca.caCertPath(), "4", QString::number(i % 2 * 2)});
        }
        for (const auto &run : runs)
            EXPECT_TRUE(run->waitForFinished(30000) && run->exitStatus() == QProcess::NormalExit && !run->exitCode())
                << "under way " << run->arguments().last() << ": " << run->readAllStandardError().toStdString();
    }
}

} // namespace
