#pragma once

#include <QString>
#include <QUrl>

// The values with which Leafhaul signs in to Ravadido.
namespace RavadidoSignInValues {

inline constexpr char kConsumerKey[] = "vtarnoqe-6148";
inline constexpr char kConsumerSecret[] = "b83f0e6d1a947c25";
inline constexpr char kServiceProvider[] = "Ravadido";
inline constexpr char kScope[] = "Full access";
// Keychain service of the OAuth token, also the sign-in window's service name.
inline constexpr char kKeychainName[] = "Leafhaul: Ravadido API";
// Never loaded: the sign-in window stops the redirect to it and reads the
// verifier from its query.
inline constexpr char kCallbackURL[] = "http://callback.leafhaul.invalid/OAuthCallback";
inline constexpr char kDefaultServiceHost[] = "www.ravadido.com";
// "host" or "host:port"; tests point the sign-in at a local provider with it.
inline constexpr char kServiceHostVariable[] = "LEAFHAUL_RAVADIDO_HOST";

// kDefaultServiceHost unless the environment names another.
QString serviceHost();
QUrl requestTokenURL();
QUrl authorizeTokenURL();
QUrl accessTokenURL();

} // namespace RavadidoSignInValues
