// local_service_probe service|plain <program> [args...]
// Starts a fake through LocalService ("service"; a ".py" program runs with
// the test interpreter) or as a bare child process ("plain"), prints
// "FAKE <pid>" and then waits to be killed.
#include "testsupport/LocalService.h"

#include <QCoreApplication>
#include <QProcess>

#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    const bool throughService = std::strcmp(argv[1], "service") == 0;
    const QString program = QString::fromLocal8Bit(argv[2]);
    QStringList args;
    for (int i = 3; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));

    LocalService service;
    QProcess plain;
    qint64 pid = 0;
    if (throughService) {
        const bool started = program.endsWith(QLatin1String(".py")) ? service.startPython(program, args)
                                                                    : service.start(program, args);
        if (!started) {
            std::fprintf(stderr, "%s\n", qPrintable(service.errorString()));
            return 1;
        }
        pid = service.processId();
    } else {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PYTHONPATH"), QStringLiteral(LEAFHAUL_TESTSUPPORT_DIR));
        plain.setProcessEnvironment(env);
        plain.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        plain.start(LocalService::python(), QStringList{QStringLiteral("-u"), program} + args);
        while (!plain.canReadLine() && plain.waitForReadyRead(20000)) {}
        if (!plain.readLine().startsWith("PORT ")) {
            std::fprintf(stderr, "the fake did not start\n");
            return 1;
        }
        pid = plain.processId();
    }
    std::printf("FAKE %lld\n", pid);
    std::fflush(stdout);
    for (;;)
        ::pause();
}
