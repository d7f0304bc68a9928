#include "testsupport/LocalService.h"
#include "testsupport/TestCertificateAuthority.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <cerrno>
#include <csignal>

namespace {

// A zombie nobody reaps has ended too.
bool isRunning(qint64 pid)
{
    if (::kill(pid_t(pid), 0) != 0)
        return errno != ESRCH;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    const char state = close >= 0 && close + 2 < line.size() ? line.at(close + 2) : '?';
    return state != 'Z' && state != 'X';
}

struct OrphanCase
{
    const char *name;
    const char *mode;
    QStringList command; // program and arguments; a ".py" fake gets the test CA's pair
};

void PrintTo(const OrphanCase &c, std::ostream *os)
{
    *os << c.name;
}

class FakeOutlivesTestTest : public testing::TestWithParam<OrphanCase>
{
};

TEST_P(FakeOutlivesTestTest, FakeEndsWhenTheTestIsKilled)
{
    const OrphanCase &c = GetParam();
    QStringList args{QString::fromLatin1(c.mode)};
    args += c.command;
    if (c.command.first().endsWith(QLatin1String(".py"))) {
        const TestCertificateAuthority &ca = TestCertificateAuthority::shared();
        ASSERT_TRUE(ca.isValid()) << ca.errorString().toStdString();
        args += ca.serverArgs();
    }
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(QStringLiteral(LOCAL_SERVICE_PROBE), args);
    ASSERT_TRUE(probe.waitForReadyRead(30000)) << "the probe did not start its fake";
    const QByteArray line = probe.readLine().trimmed();
    ASSERT_TRUE(line.startsWith("FAKE ")) << line.toStdString();
    const qint64 fake = line.mid(5).toLongLong();
    ASSERT_GT(fake, 0);
    ASSERT_TRUE(isRunning(fake));

    ::kill(pid_t(probe.processId()), SIGKILL);
    ASSERT_TRUE(probe.waitForFinished(10000));

    QDeadlineTimer deadline(10000);
    while (isRunning(fake) && !deadline.hasExpired())
        QThread::msleep(50);
    const bool orphaned = isRunning(fake);
    if (orphaned)
        ::kill(pid_t(fake), SIGKILL);
    EXPECT_FALSE(orphaned) << "the fake outlived the process that started it";
}

INSTANTIATE_TEST_SUITE_P(
    Fakes, FakeOutlivesTestTest,
    testing::Values(
        // The kernel's signal alone: the fake itself does nothing.
        OrphanCase{"ServiceWithoutHelp", "service", {"/bin/sh", "-c", "echo PORT 1; exec sleep 300"}},
        OrphanCase{"ServiceTlsFake", "service", {LEAFHAUL_SOURCE_DIR "/src/testsupport/tests/idle_fake.py"}},
        // Started without LocalService: the fake watches its parent itself.
        OrphanCase{"PlainTlsFake", "plain", {LEAFHAUL_SOURCE_DIR "/src/testsupport/tests/idle_fake.py"}},
        OrphanCase{"PlainNoteStoreFake", "plain", {LEAFHAUL_SOURCE_DIR "/src/ravadido/tests/fake_notestore.py"}}),
    [](const testing::TestParamInfo<OrphanCase> &c) { return std::string(c.param.name); });

} // namespace
