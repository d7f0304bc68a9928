#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// A fake service run as a child process on 127.0.0.1 for the length of a test.
// The script prints "PORT <n>" on its first line once it listens; stop() or the
// destructor ends it. It also ends (SIGTERM) when the test process dies, even
// by SIGKILL, or when the thread that started it ends: start it from one that
// outlives it.
class LocalService
{
public:
    LocalService() = default;
    ~LocalService();
    LocalService(const LocalService &) = delete;
    LocalService &operator=(const LocalService &) = delete;

    // Starts `program args`; returns false (with errorString()) when it does not
    // report a port within the time-out.
    bool start(const QString &program, const QStringList &args, int timeoutMs = 20000);
    // Starts a Python script with the system interpreter.
    bool startPython(const QString &script, const QStringList &args = {}, int timeoutMs = 20000);
    void stop();

    int port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    QString errorString() const { return m_error; }
    // Everything the service wrote to stderr so far, for failure messages.
    QString log();

    static QString python();

private:
    QProcess m_process;
    int m_port = 0;
    QString m_error;
    QString m_log;
};
