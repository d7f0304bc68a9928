// The token store against the session's real Secret Service.

#include "signin/RavadidoSignInValues.h"
#include "signin/VKKeychain.h"
#include "signin/WSKOAuthAuthentication.h"
#include "signin/WSKOAuthKeychainStore.h"

#include <QCoreApplication>
#include <QSettings>
#include <QUuid>

#include <gtest/gtest.h>

namespace {

using Store = WSKOAuthKeychainStore;

WSKOAuthAuthentication freshAuth()
{
    WSKOAuthAuthentication auth(QString::fromLatin1(kWSKOAuthSignatureMethodHMAC_SHA1),
                                QString::fromLatin1(RavadidoSignInValues::kConsumerKey),
                                QString::fromLatin1(RavadidoSignInValues::kConsumerSecret));
    auth.setServiceProvider(QString::fromLatin1(RavadidoSignInValues::kServiceProvider));
    return auth;
}

WSKOAuthAuthentication signedIn(const QString &token)
{
    WSKOAuthAuthentication auth = freshAuth();
    auth.setAccessToken(token);
    auth.setTokenSecret(QStringLiteral("s3cr=t"));
    auth.setUserEmail(QStringLiteral("https://host.example/ruru/notestore"));
    return auth;
}

class KeychainStore : public testing::Test
{
protected:
    void SetUp() override
    {
        QCoreApplication::setOrganizationName(QStringLiteral("LeafhaulTests"));
        QCoreApplication::setApplicationName(QStringLiteral("signin_store_tests"));
        name = QStringLiteral("Leafhaul test: ") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    }
    void TearDown() override
    {
        VKKeychain::deletePasswordForService(name, QString::fromLatin1(kKeychainAccountName));
        QSettings().remove(Store::prefsKeyForName(name));
    }

    bool flag() const { return QSettings().value(Store::prefsKeyForName(name), false).toBool(); }
    bool flagPresent() const { return QSettings().contains(Store::prefsKeyForName(name)); }
    QString storedItem() const
    {
        return VKKeychain::passwordForService(name, QString::fromLatin1(kKeychainAccountName));
    }

    QString name;
};

TEST_F(KeychainStore, PrefsKeyIsOAuthColonName)
{
    EXPECT_EQ(Store::prefsKeyForName(QString::fromLatin1(RavadidoSignInValues::kKeychainName)),
              QStringLiteral("OAuth: Leafhaul: Ravadido API"));
}

TEST_F(KeychainStore, SavedTokenComesBackIntoANewRecord)
{
    ASSERT_TRUE(Store::saveParamsToKeychainForName(name, signedIn(QStringLiteral("tok=1:first"))));
    EXPECT_TRUE(flag());
    EXPECT_FALSE(storedItem().isEmpty());

    // Saving again replaces the token.
    ASSERT_TRUE(Store::saveParamsToKeychainForName(name, signedIn(QStringLiteral("tok=1:second é"))));

    WSKOAuthAuthentication auth = freshAuth();
    ASSERT_TRUE(Store::authorizeFromKeychainForName(name, auth));
    EXPECT_TRUE(auth.canAuthorize());
    EXPECT_EQ(auth.accessToken(), QStringLiteral("tok=1:second é"));
    EXPECT_EQ(auth.tokenSecret(), QStringLiteral("s3cr=t"));
    EXPECT_EQ(auth.userEmail(), QStringLiteral("https://host.example/ruru/notestore"));
    // The consumer values are the application's, never the store's.
    EXPECT_EQ(auth.consumerKey(), QString::fromLatin1(RavadidoSignInValues::kConsumerKey));
    EXPECT_EQ(auth.privateKey(), QString::fromLatin1(RavadidoSignInValues::kConsumerSecret));
}

TEST_F(KeychainStore, SavingARecordWithoutAccessTokenOrRemovingDeletesItemAndFlag)
{
    for (const bool byRemove : {false, true}) {
        ASSERT_TRUE(Store::saveParamsToKeychainForName(name, signedIn(QStringLiteral("tok=1:tok"))));
        if (byRemove) {
            EXPECT_TRUE(Store::removeParamsFromKeychainForName(name));
        } else {
            WSKOAuthAuthentication requestTokenOnly = freshAuth();
            requestTokenOnly.setToken(QStringLiteral("rt-123"));
            EXPECT_FALSE(Store::saveParamsToKeychainForName(name, requestTokenOnly));
        }
        EXPECT_FALSE(flagPresent());
        EXPECT_TRUE(storedItem().isNull());
        WSKOAuthAuthentication auth = freshAuth();
        EXPECT_FALSE(Store::authorizeFromKeychainForName(name, auth));
    }
}

// Each of these loads nothing and leaves the record without a token.
TEST_F(KeychainStore, LoadMissesAndClearsTheToken)
{
    const std::pair<const char *, std::function<void()>> cases[] = {
        {"flag without item: removing keeps the flag",
         [this] {
             QSettings().setValue(Store::prefsKeyForName(name), true);
             EXPECT_TRUE(Store::removeParamsFromKeychainForName(name));
             EXPECT_TRUE(flag());
         }},
        {"item with the flag off",
         [this] {
             ASSERT_TRUE(Store::saveParamsToKeychainForName(name, signedIn(QStringLiteral("tok=1:tok"))));
             QSettings().setValue(Store::prefsKeyForName(name), false);
         }},
        {"stored string without a token",
         [this] {
             ASSERT_TRUE(
                 VKKeychain::setPassword(QStringLiteral("serviceProvider=Ravadido&ruru_noteStoreUrl=https%3A%2F%2Fx"),
                                         name, QString::fromLatin1(kKeychainAccountName)));
             QSettings().setValue(Store::prefsKeyForName(name), true);
         }},
    };
    for (const auto &[what, setUp] : cases) {
        SCOPED_TRACE(what);
        TearDown();
        setUp();
        WSKOAuthAuthentication auth = signedIn(QStringLiteral("tok=1:in-memory"));
        EXPECT_FALSE(Store::authorizeFromKeychainForName(name, auth));
        EXPECT_TRUE(auth.token().isNull());
        EXPECT_FALSE(auth.hasAccessToken());
        EXPECT_FALSE(auth.canAuthorize());
    }
}

} // namespace
