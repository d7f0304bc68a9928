#include "signin/WSKReachability.h"

#include <QNetworkInformation>

namespace {

class NetworkInformationReachability : public WSKReachabilitySource
{
public:
    explicit NetworkInformationReachability(QNetworkInformation *info)
    {
        connect(info, &QNetworkInformation::reachabilityChanged, this,
                [this](QNetworkInformation::Reachability reachability) {
                    // An unknown state is no evidence of a loss.
                    emit reachabilityChanged(reachability == QNetworkInformation::Reachability::Online
                                             || reachability == QNetworkInformation::Reachability::Unknown);
                });
    }
};

} // namespace

std::unique_ptr<WSKReachabilitySource> WSKSystemReachability(const QString &)
{
    if (!QNetworkInformation::instance()
        && !QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability))
        return nullptr;
    return std::make_unique<NetworkInformationReachability>(QNetworkInformation::instance());
}
