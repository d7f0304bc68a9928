#include "testsupport/LocalService.h"

#include <QDeadlineTimer>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

LocalService::~LocalService()
{
    stop();
}

QString LocalService::python()
{
    const QByteArray env = qgetenv("LEAFHAUL_PYTHON");
    return env.isEmpty() ? QStringLiteral(LEAFHAUL_PYTHON) : QString::fromLocal8Bit(env);
}

bool LocalService::startPython(const QString &script, const QStringList &args, int timeoutMs)
{
    // Fake scripts import the shared helpers (tlsfake.py) from this folder.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString pythonPath = env.value(QStringLiteral("PYTHONPATH"));
    env.insert(QStringLiteral("PYTHONPATH"), QStringLiteral(LEAFHAUL_TESTSUPPORT_DIR)
                                                 + (pythonPath.isEmpty() ? QString() : QLatin1Char(':') + pythonPath));
    m_process.setProcessEnvironment(env);
    return start(python(), QStringList{QStringLiteral("-u"), script} + args, timeoutMs);
}

bool LocalService::start(const QString &program, const QStringList &args, int timeoutMs)
{
    stop();
    // A test that crashes or is killed must not leave its fake behind.
    m_process.setChildProcessModifier([parent = ::getpid()] {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) // gone before the line above took hold
            ::_exit(127);
    });
    m_process.setProgram(program);
    m_process.setArguments(args);
    m_process.start();
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = m_process.errorString();
        return false;
    }
    QByteArray line;
    QDeadlineTimer deadline(timeoutMs);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || m_process.state() != QProcess::Running
            || !m_process.waitForReadyRead(int(deadline.remainingTime()))) {
            if (m_process.canReadLine())
                break;
            m_error = QStringLiteral("service did not report its port: ") + log();
            stop();
            return false;
        }
    }
    line = m_process.readLine().trimmed();
    if (!line.startsWith("PORT ")) {
        m_error = QStringLiteral("unexpected first line: ") + QString::fromUtf8(line);
        stop();
        return false;
    }
    m_port = line.mid(5).toInt();
    return m_port > 0;
}

QString LocalService::log()
{
    m_log += QString::fromUtf8(m_process.readAllStandardError());
    return m_log;
}

void LocalService::stop()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    m_port = 0;
}
