#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// Tells whether the network that leads to a host is usable. The sign-in
// watches one while its page is up; tests give it a source they drive.
class WSKReachabilitySource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

signals:
    void reachabilityChanged(bool reachable);
};

// Makes the source for a host, or nothing when the platform cannot tell.
using WSKReachabilityFactory = std::function<std::unique_ptr<WSKReachabilitySource>(const QString &host)>;

// The platform's view through QNetworkInformation. It knows no hosts: being
// online counts as reachable. Nothing when no backend can be loaded.
std::unique_ptr<WSKReachabilitySource> WSKSystemReachability(const QString &host);
