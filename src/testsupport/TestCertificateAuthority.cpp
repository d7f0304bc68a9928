#include "testsupport/TestCertificateAuthority.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

const TestCertificateAuthority &TestCertificateAuthority::shared()
{
    static const TestCertificateAuthority ca;
    EXPECT_TRUE(ca.isValid()) << ca.errorString().toStdString();
    return ca;
}

TestCertificateAuthority::TestCertificateAuthority()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return;
    }
    const QString d = m_dir.path() + QLatin1Char('/');
    QFile ext(d + QStringLiteral("server.ext"));
    if (!ext.open(QIODevice::WriteOnly)) {
        m_error = ext.errorString();
        return;
    }
    ext.write("basicConstraints=CA:FALSE\n"
              "keyUsage=digitalSignature,keyEncipherment\n"
              "extendedKeyUsage=serverAuth\n"
              "subjectAltName=IP:127.0.0.1,DNS:localhost,DNS:*.test.localhost\n");
    ext.close();
    m_valid = run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=Leafhaul Test CA",
                   "-keyout", d + "ca.key", "-out", d + "ca.pem", "-addext", "basicConstraints=critical,CA:TRUE",
                   "-addext", "keyUsage=critical,keyCertSign,cRLSign"})
              && run({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout", d + "server.key",
                      "-out", d + "server.csr"})
              && run({"x509", "-req", "-in", d + "server.csr", "-CA", d + "ca.pem", "-CAkey", d + "ca.key",
                      "-CAcreateserial", "-days", "2", "-extfile", d + "server.ext", "-out", d + "server.pem"});
}

bool TestCertificateAuthority::run(const QStringList &args)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), args);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit || openssl.exitCode() != 0) {
        m_error = QStringLiteral("openssl %1 failed: %2 %3")
                      .arg(args.join(QLatin1Char(' ')), openssl.errorString(),
                           QString::fromLocal8Bit(openssl.readAllStandardError()));
        return false;
    }
    return true;
}

QString TestCertificateAuthority::caCertPath() const
{
    return m_dir.filePath(QStringLiteral("ca.pem"));
}
QString TestCertificateAuthority::serverCertPath() const
{
    return m_dir.filePath(QStringLiteral("server.pem"));
}
QString TestCertificateAuthority::serverKeyPath() const
{
    return m_dir.filePath(QStringLiteral("server.key"));
}

QStringList TestCertificateAuthority::serverArgs() const
{
    return {QStringLiteral("--cert"), serverCertPath(), QStringLiteral("--key"), serverKeyPath()};
}
