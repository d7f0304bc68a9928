#pragma once

#include "foundation/Error.h"
#include "signin/HttpRequest.h"

#include <QString>

#include <functional>

// What the HTTP fetcher asks of an object that authorises its requests.
class WSKFetcherAuthorizationProtocol
{
public:
    virtual ~WSKFetcherAuthorizationProtocol() = default;

    // Called synchronously or later with the authoriser, the request it
    // decorated and the error (empty on success).
    using FinishedCallback = std::function<void(WSKFetcherAuthorizationProtocol *authorizer, HttpRequest &request,
                                                const OptionalError &error)>;

    // Authorises `request` in place, then calls `finished` when one is given.
    virtual void authorizeRequest(HttpRequest &request, const FinishedCallback &finished) = 0;
    // Authorises `request` in place; false when it cannot be authorised.
    virtual bool authorizeRequest(HttpRequest &request) = 0;
    virtual void stopAuthorization() = 0;
    virtual bool isAuthorizingRequest(const HttpRequest &request) const = 0;
    virtual bool isAuthorizedRequest(const HttpRequest &request) const = 0;
    virtual QString userEmail() const = 0;

    // Asks the authoriser to refresh its credentials after a 401. An
    // authoriser that cannot refresh keeps this default and answers false.
    virtual bool primeForRefresh() { return false; }
};
