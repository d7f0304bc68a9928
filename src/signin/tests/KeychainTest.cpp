#include "signin/VKKeychain.h"

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>

#include <gtest/gtest.h>

// These run against the session's real Secret Service: scripts/test starts an
// unlocked keyring inside a private D-Bus session.

namespace {

// A service name no other test uses; its items are removed afterwards.
class KeychainTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (const auto items = VKKeychain::accountsForService(service)) {
            for (const QVariantMap &item : *items)
                VKKeychain::deletePasswordForService(service, item.value(kVKKeychainAccountKey).toString());
        }
    }

    const QString service = "Leafhaul test " + QUuid::createUuid().toString(QUuid::WithoutBraces);
};

long codeOf(const OptionalError &error)
{
    return error ? error->code : 0;
}

} // namespace

TEST_F(KeychainTest, SavesFetchesOverwritesAndDeletes)
{
    OptionalError error;
    ASSERT_TRUE(VKKeychain::setPassword("first", service, "alice", &error)) << error->toString().toStdString();
    EXPECT_EQ(VKKeychain::passwordForService(service, "alice"), "first");

    ASSERT_TRUE(VKKeychain::setPassword("second", service, "alice"));
    EXPECT_EQ(VKKeychain::passwordForService(service, "alice"), "second");
    const auto items = VKKeychain::accountsForService(service);
    ASSERT_TRUE(items.has_value());
    ASSERT_EQ(items->size(), 1); // replaced, not added
    const QVariantMap item = items->first();
    EXPECT_EQ(item.value(kVKKeychainAccountKey), "alice");
    EXPECT_EQ(item.value(kVKKeychainWhereKey), service);
    EXPECT_EQ(item.value(kVKKeychainLabelKey), service);
    const QDateTime created = item.value(kVKKeychainCreatedAtKey).toDateTime();
    EXPECT_TRUE(created.isValid());
    EXPECT_LE(created, item.value(kVKKeychainLastModifiedKey).toDateTime());
    EXPECT_LE(qAbs(created.secsTo(QDateTime::currentDateTimeUtc())), 24 * 3600);

    ASSERT_TRUE(VKKeychain::deletePasswordForService(service, "alice", &error));
    EXPECT_TRUE(VKKeychain::passwordForService(service, "alice").isNull());
}

TEST_F(KeychainTest, ReportsMissingItems)
{
    OptionalError error;
    EXPECT_FALSE(VKKeychain::deletePasswordForService(service, "nobody", &error));
    EXPECT_EQ(codeOf(error), kVKKeychainStatusItemNotFound);
    EXPECT_FALSE(error->localizedDescription.isEmpty());
    EXPECT_EQ(error->domain, kVKKeychainErrorDomain);

    error.reset();
    EXPECT_TRUE(VKKeychain::passwordForService(service, "nobody", &error).isNull());
    EXPECT_EQ(codeOf(error), kVKKeychainStatusItemNotFound);

    VKKeychainQuery query;
    query.setService(service);
    query.setAccount("nobody");
    query.setPasswordData("kept");
    error.reset();
    EXPECT_FALSE(query.fetch(&error));
    EXPECT_EQ(codeOf(error), kVKKeychainStatusItemNotFound);
    EXPECT_EQ(query.passwordData(), "kept");

    error.reset();
    EXPECT_FALSE(query.fetchAll(&error).has_value());
    EXPECT_EQ(codeOf(error), kVKKeychainStatusItemNotFound);
    EXPECT_FALSE(VKKeychain::accountsForService(service).has_value());
}

TEST_F(KeychainTest, RejectsMissingArgumentsWithoutTouchingTheItem)
{
    ASSERT_TRUE(VKKeychain::setPassword("original", service, "alice"));
    struct Case
    {
        const char *what;
        QString service;
        QString account;
        QString password;
    };
    const Case cases[] = {
        {"no service", {}, "alice", "new"},
        {"no account", service, {}, "new"},
        {"no password", service, "alice", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        OptionalError error;
        EXPECT_FALSE(VKKeychain::setPassword(c.password, c.service, c.account, &error));
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->code, kVKKeychainErrorInvalidArguments);
        EXPECT_EQ(error->localizedDescription, "Some of the arguments were invalid");
        if (c.password.isNull())
            continue;
        error.reset();
        EXPECT_TRUE(VKKeychain::passwordForService(c.service, c.account, &error).isNull());
        EXPECT_EQ(codeOf(error), kVKKeychainErrorInvalidArguments);
        error.reset();
        EXPECT_FALSE(VKKeychain::deletePasswordForService(c.service, c.account, &error));
        EXPECT_EQ(codeOf(error), kVKKeychainErrorInvalidArguments);
    }
    EXPECT_EQ(VKKeychain::passwordForService(service, "alice"), "original");
}

TEST_F(KeychainTest, SecretsRoundTripByteForByte)
{
    const QString texts[] = {
        QString::fromUtf8("p\xC3\xA4sswort \xE2\x82\xAC \xF0\x9F\x94\x91"),
        "", // an empty secret is still a secret
        "tok=1:user=2&oauth_token_secret=%2B",
    };
    for (const QString &text : texts) {
        ASSERT_TRUE(VKKeychain::setPassword(text, service, "alice"));
        const QString back = VKKeychain::passwordForService(service, "alice");
        EXPECT_FALSE(back.isNull());
        EXPECT_EQ(back, text);
    }
    VKKeychainQuery binary;
    binary.setService(service);
    binary.setAccount(QString::fromUtf8("b\xC3\xB6"
                                        "b"));
    binary.setPasswordData(QByteArray("\x00\xFF\x01 \xC3", 5));
    ASSERT_TRUE(binary.save());
    VKKeychainQuery read;
    read.setService(service);
    read.setAccount(QString::fromUtf8("b\xC3\xB6"
                                      "b"));
    ASSERT_TRUE(read.fetch());
    EXPECT_EQ(read.passwordData(), binary.passwordData());
}

TEST_F(KeychainTest, ListsAccountsPerServiceAndForAll)
{
    VKKeychainQuery labelled;
    labelled.setService(service);
    labelled.setAccount("bob");
    labelled.setLabel(QString::fromUtf8("Bob\xE2\x80\x99s key"));
    labelled.setPassword("b");
    ASSERT_TRUE(labelled.save());
    ASSERT_TRUE(VKKeychain::setPassword("a", service, "alice"));
    const QString other = service + " other";
    ASSERT_TRUE(VKKeychain::setPassword("c", other, "carol"));

    const auto mine = VKKeychain::accountsForService(service);
    ASSERT_TRUE(mine.has_value());
    QMap<QString, QString> labels;
    for (const QVariantMap &item : *mine)
        labels.insert(item.value(kVKKeychainAccountKey).toString(), item.value(kVKKeychainLabelKey).toString());
    EXPECT_EQ(labels, (QMap<QString, QString>{{"alice", service}, {"bob", QString::fromUtf8("Bob\xE2\x80\x99s key")}}));

    const auto all = VKKeychain::allAccounts();
    ASSERT_TRUE(all.has_value());
    QStringList services;
    for (const QVariantMap &item : *all)
        services.append(item.value(kVKKeychainWhereKey).toString());
    EXPECT_EQ(services.count(service), 2);
    EXPECT_EQ(services.count(other), 1);

    VKKeychainQuery oneAccount;
    oneAccount.setService(service);
    oneAccount.setAccount("bob");
    const auto bobOnly = oneAccount.fetchAll();
    ASSERT_TRUE(bobOnly.has_value());
    EXPECT_EQ(bobOnly->size(), 1);

    // One account under two services: each service keeps its own secret.
    ASSERT_TRUE(VKKeychain::setPassword("c2", other, "alice"));
    EXPECT_EQ(VKKeychain::passwordForService(service, "alice"), "a");
    EXPECT_EQ(VKKeychain::passwordForService(other, "alice"), "c2");
    EXPECT_TRUE(VKKeychain::deletePasswordForService(other, "alice"));
    EXPECT_TRUE(VKKeychain::deletePasswordForService(other, "carol"));
}

TEST(Keychain, QueryAndErrorObjects)
{
    VKKeychainQuery query;
    EXPECT_EQ(query.query(), (QVariantMap{{"class", "genp"}}));
    query.setService("s");
    query.setAccount("a");
    query.setLabel("ignored in searches");
    EXPECT_EQ(query.query(), (QVariantMap{{"class", "genp"}, {"svce", "s"}, {"acct", "a"}}));

    EXPECT_FALSE(VKKeychainQuery::errorWithCode(0).has_value());
    for (const long code : {kVKKeychainErrorInvalidArguments, kVKKeychainStatusItemNotFound,
                            kVKKeychainStatusNotAvailable, kVKKeychainStatusLocked, kVKKeychainStatusFailed}) {
        const OptionalError error = VKKeychainQuery::errorWithCode(code);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->domain, kVKKeychainErrorDomain);
        EXPECT_EQ(error->code, code);
        EXPECT_FALSE(error->localizedDescription.isEmpty()) << code;
    }
    const OptionalError unknown = VKKeychainQuery::errorWithCode(42);
    ASSERT_TRUE(unknown.has_value());
    EXPECT_EQ(unknown->code, 42);
    EXPECT_TRUE(unknown->localizedDescription.isEmpty());
}

// ------------------------------------------------------------------ no usable service

namespace {

struct ProbeLine
{
    bool result = false;
    long code = 0;
    qint64 milliseconds = -1; // how long the call took
};

// Runs the probe program with `environment`, optionally under `wrapper`
// (a shell command line that ends by running "$PROBE"). A run that does not
// end within the bound counts as a hang.
QMap<QString, ProbeLine> runProbe(const QProcessEnvironment &environment, const QString &shellLine,
                                  QString *output = nullptr)
{
    QProcess probe;
    probe.setProcessEnvironment(environment);
    probe.setProcessChannelMode(QProcess::SeparateChannels);
    probe.start("/bin/bash", {"-c", shellLine});
    EXPECT_TRUE(probe.waitForStarted());
    const bool ended = probe.waitForFinished(120000);
    EXPECT_TRUE(ended) << "the keychain calls hung: " << shellLine.toStdString();
    if (!ended) {
        probe.kill();
        probe.waitForFinished();
    }
    const QString text = QString::fromUtf8(probe.readAllStandardOutput());
    if (output)
        *output = text + QString::fromUtf8(probe.readAllStandardError());
    QMap<QString, ProbeLine> lines;
    for (const QString &line : text.split('\n', Qt::SkipEmptyParts)) {
        const QStringList words = line.split(' ');
        if (words.size() >= 4)
            lines.insert(words[0], {words[1] == "1", words[2].toLong(), words[3].toLongLong()});
    }
    return lines;
}

// A private home, so that keyring daemons started here never see the
// session's own keyring.
QProcessEnvironment isolatedEnvironment(const QTemporaryDir &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *folder : {"config", "data", "cache", "runtime"})
        QDir(home.path()).mkpath(folder);
    QFile::setPermissions(home.filePath("runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    environment.insert("HOME", home.path());
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_CACHE_HOME", home.filePath("cache"));
    environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
    environment.insert("PROBE", KEYCHAIN_PROBE);
    environment.insert("STALL", SECRET_SERVICE_STALL);
    return environment;
}

} // namespace

TEST(KeychainWithoutService, EveryCallFailsPromptly)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment base = isolatedEnvironment(home);

    QProcessEnvironment nowhere = base;
    nowhere.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + home.filePath("no-such-bus"));
    QProcessEnvironment noBus = base;
    noBus.remove("DBUS_SESSION_BUS_ADDRESS");
    noBus.remove("DISPLAY");

    const std::pair<const char *, QProcessEnvironment> cases[] = {
        {"bus address pointing nowhere", nowhere},
        {"no session bus at all", noBus},
    };
    for (const auto &[what, environment] : cases) {
        SCOPED_TRACE(what);
        QString output;
        const auto lines = runProbe(environment, "\"$PROBE\"", &output);
        ASSERT_EQ(lines.size(), 4) << output.toStdString();
        for (const auto &[call, line] : lines.asKeyValueRange()) {
            EXPECT_FALSE(line.result) << call.toStdString();
            EXPECT_EQ(line.code, kVKKeychainStatusNotAvailable) << call.toStdString();
        }
    }
}

TEST(KeychainWithoutService, LockedKeyringFailsWithLockedStatus)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QProcessEnvironment environment = isolatedEnvironment(home);

    // A keyring with an item, saved while unlocked...
    auto stored = runProbe(environment, "dbus-run-session -- bash -c 'echo -n pw | gnome-keyring-daemon "
                                        "--unlock --components=secrets >/dev/null; exec \"$PROBE\" save storeSave'");
    ASSERT_TRUE(stored.value("save").result);
    ASSERT_TRUE(stored.value("storeSave").result);

    // ...then opened by a daemon that cannot unlock it (no prompt without a display).
    QString output;
    auto lines = runProbe(environment,
                          "unset DISPLAY; dbus-run-session -- bash -c 'gnome-keyring-daemon --start "
                          "--components=secrets >/dev/null; exec \"$PROBE\" fetch fetchAll delete save storeRemove'",
                          &output);
    ASSERT_EQ(lines.size(), 5) << output.toStdString();
    // The token store cannot know the item is gone, so it drops its flag
    // and says it failed.
    const ProbeLine storeRemove = lines.take("storeRemove");
    EXPECT_FALSE(storeRemove.result);
    EXPECT_EQ(storeRemove.code, 0) << "the settings flag survived";
    for (const auto &[call, line] : lines.asKeyValueRange()) {
        EXPECT_FALSE(line.result) << call.toStdString();
        EXPECT_EQ(line.code, kVKKeychainStatusLocked) << call.toStdString();
    }
}

TEST(KeychainWithoutService, BusWithoutKeyringDaemonFails)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QString output;
    // The bus may start a keyring daemon on demand; with no keyring and no
    // prompt it can store nothing.
    const auto lines = runProbe(isolatedEnvironment(home), "unset DISPLAY; dbus-run-session -- \"$PROBE\"", &output);
    ASSERT_EQ(lines.size(), 4) << output.toStdString();
    EXPECT_FALSE(lines.value("save").result);
    EXPECT_NE(lines.value("save").code, 0);
    for (const char *call : {"fetch", "delete", "fetchAll"})
        EXPECT_FALSE(lines.value(call).result) << call;
}

TEST(KeychainWithoutService, ServiceThatNeverAnswersIsGivenUp)
{
    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QString output;
    // The stand-in owns the service's name first, so nothing else is started.
    const auto lines = runProbe(isolatedEnvironment(home),
                                "dbus-run-session -- bash -c '\"$STALL\" > \"$HOME/ready\" & stall=$!; "
                                "for i in $(seq 200); do grep -q READY \"$HOME/ready\" && break; sleep 0.1; done; "
                                "\"$PROBE\" fetch; kill $stall'",
                                &output);
    ASSERT_EQ(lines.size(), 1) << output.toStdString();
    EXPECT_FALSE(lines.value("fetch").result);
    EXPECT_EQ(lines.value("fetch").code, kVKKeychainStatusNotAvailable);
    // Given up at the call's deadline of 15 s, not long after it.
    EXPECT_GE(lines.value("fetch").milliseconds, 0);
    EXPECT_LT(lines.value("fetch").milliseconds, 30000) << "the call was given up too late";
}
