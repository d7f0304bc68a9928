#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A throwaway certificate authority made with the openssl tool at test time,
// with one server certificate for 127.0.0.1, localhost and *.test.localhost
// (libcurl sends every *.localhost name to the loopback address, so a fake can
// stand for a service with sub-domains) signed by it. Fake
// TLS services load the server pair; clients trust caCertPath() explicitly.
class TestCertificateAuthority
{
public:
    // The one authority of the test process, made on first use; a test fails
    // (with a message) when it cannot be made.
    static const TestCertificateAuthority &shared();

    TestCertificateAuthority();
    bool isValid() const { return m_valid; }
    QString errorString() const { return m_error; }

    QString caCertPath() const;
    QString serverCertPath() const;
    QString serverKeyPath() const;
    // "--cert <server cert> --key <server key>", the arguments the Python
    // helper tlsfake.py expects.
    QStringList serverArgs() const;

private:
    bool run(const QStringList &args);

    QTemporaryDir m_dir;
    bool m_valid = false;
    QString m_error;
};
