#pragma once

// Shared pieces of the importer's tests: the two local fakes (Backpack with
// its sign-in service and asset files, and the NoteStore), a small builder
// for Backpack page documents, and a delegate that records what an import
// tells the user interface.

#include "BackpackPageBuilder.h"
#include "ravadido/tests/FakeNoteStore.h"

#include "app/AssetDownloader.h"
#include "app/NoteBuilder.h"
#include "app/RavadidoFromBackpackImporter.h"
#include "app/WorkQueue.h"
#include "backpack/TGBackpackAPI.h"
#include "backpack/TGBackpackPage.h"
#include "foundation/Cookies.h"
#include "foundation/SyncHttp.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <utility>

inline std::ostream &operator<<(std::ostream &os, const QString &s)
{
    return os << s.toStdString();
}
// gtest would print a QString character by character.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace importertest {

// Records every callback, in order, as one line each; checks that each
// arrives on the main thread and may act on one (to cancel, for instance).
class RecordingDelegate : public RavadidoImporterDelegate
{
public:
    QStringList events;
    OptionalError error;
    int ends = 0;
    bool offMainThread = false;
    // Called after each event is recorded, with the event's line.
    std::function<void(RavadidoFromBackpackImporter *, const QString &)> onEvent;

    void ravadidoImporterWillImportPage(RavadidoFromBackpackImporter *i, const BackpackPagePtr &page) override
    {
        record(i, "will " + page->title());
    }
    void ravadidoImporterDetailStatus(RavadidoFromBackpackImporter *i, const QString &status,
                                      const BackpackPagePtr &page, bool uploading) override
    {
        record(i, QStringLiteral("status %1 [%2]%3").arg(status, page->title(), uploading ? " up" : ""));
    }
    void ravadidoImporterDidImportWidget(RavadidoFromBackpackImporter *i, const WidgetRecord &widget,
                                         const BackpackPagePtr &page) override
    {
        record(i,
               QStringLiteral("widget %1 %2 [%3]")
                   .arg(widget.value("widgetType").toString(), widget.value("backpackID").toString(), page->title()));
    }
    void ravadidoImporterDidImportPage(RavadidoFromBackpackImporter *i, const BackpackPagePtr &page) override
    {
        record(i, "did " + page->title());
    }
    void ravadidoImporterDidFinish(RavadidoFromBackpackImporter *i) override { end(i, "finish"); }
    void ravadidoImporterDidFailWithError(RavadidoFromBackpackImporter *i, const Error &e) override
    {
        error = e;
        end(i, "fail");
    }
    void ravadidoImporterWasCancelled(RavadidoFromBackpackImporter *i) override { end(i, "cancel"); }

private:
    void end(RavadidoFromBackpackImporter *importer, const char *line)
    {
        ++ends;
        record(importer, QLatin1String(line));
    }
    void record(RavadidoFromBackpackImporter *importer, const QString &line)
    {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            offMainThread = true;
        events << line;
        if (onEvent)
            onEvent(importer, line);
    }
};

// Turns the main thread's event loop until `done` or the safety limit (a
// hung import fails the test instead of blocking the run).
inline bool pumpUntil(const std::function<bool()> &done)
{
    QDeadlineTimer deadline(120000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (!done())
            QThread::msleep(2);
    }
    return done();
}

inline WSKOAuthAuthentication authenticationFor(const QUrl &noteStoreUrl, const QString &token = kAccessToken)
{
    WSKOAuthAuthentication auth = WSKOAuthAuthentication::authForInstalledApp();
    if (!token.isEmpty())
        auth.setAccessToken(token);
    auth.setUserEmail(noteStoreUrl.toString());
    return auth;
}

// Single steps of an import, which the importer keeps private.
class ImporterSteps
{
public:
    static std::optional<DownloadedAsset> downloadAsset(RavadidoFromBackpackImporter &importer,
                                                        const WidgetRecord &widget, const BackpackPagePtr &page,
                                                        OptionalError *error)
    {
        return importer.downloadAsset(widget, page, error);
    }
    static std::optional<QList<DownloadedAsset>> downloadAssetsForWidget(RavadidoFromBackpackImporter &importer,
                                                                         const WidgetRecord &widget,
                                                                         const BackpackPagePtr &page,
                                                                         OptionalError *error)
    {
        return importer.downloadAssetsForWidget(widget, page, error);
    }
    // The note builder asks `check` instead of the importer whether the run
    // was cancelled. Before the start.
    static void setBuilderCancellationCheck(RavadidoFromBackpackImporter &importer, std::function<bool()> check)
    {
        importer.m_builder = std::make_unique<NoteBuilder>(std::move(check));
    }
};

// Both fakes for the whole test binary run (ctest runs each case in a
// process of its own); every test starts from an empty NoteStore, the given
// site, no cookies, no sign-ins and an empty data folder.
class ImporterTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dataHome = new QTemporaryDir;
        qputenv("XDG_DATA_HOME", dataHome->path().toUtf8());
        backpack = new BackpackFake;
        ASSERT_TRUE(backpack->start()) << backpack->errorString();
        noteStore = new FakeNoteStore;
        FakeNoteStore::Options options;
        options.tls = true;
        ASSERT_TRUE(noteStore->start(options)) << noteStore->errorString();
    }
    static void TearDownTestSuite()
    {
        delete std::exchange(noteStore, nullptr);
        delete std::exchange(backpack, nullptr);
        delete std::exchange(dataHome, nullptr);
    }
    void SetUp() override
    {
        ASSERT_TRUE(backpack && noteStore);
        ASSERT_TRUE(backpack->reset()) << backpack->errorString();
        noteStore->reset();
        SyncHttp::clearCookies();
        AssetDownloader::resetLogins();
        // Never QDir(""): that is the folder the tests run in.
        const QString application = AssetDownloader::applicationSupportPath();
        ASSERT_FALSE(application.isEmpty());
        QDir(application).removeRecursively();
    }

    void useSite(const Site &site) { ASSERT_TRUE(backpack->setSite(site.json())) << backpack->errorString(); }

    static std::shared_ptr<TGBackpackAPI> makeAPI(const QString &username = kUser, const QString &password = kPassword)
    {
        auto api = std::make_shared<TGBackpackAPI>(kSite, kToken, username, password);
        TGBackpackAPI::RetryPolicy policy;
        policy.maxRetries = 0;
        policy.sleeper = [](int) { return true; };
        api->setRetryPolicy(policy);
        return api;
    }

    // The site's pages as the page list gives them.
    static QList<BackpackPagePtr> listedPages(TGBackpackAPI &api)
    {
        const auto pages = api.pages();
        EXPECT_TRUE(pages) << (api.error() ? api.error()->toString() : QString());
        return pages.value_or(QList<BackpackPagePtr>());
    }

    // Runs one import to its end callback; the importer is returned.
    std::shared_ptr<RavadidoFromBackpackImporter> runImport(RecordingDelegate &delegate,
                                                            const QList<BackpackPagePtr> &pages,
                                                            std::shared_ptr<TGBackpackAPI> api = {},
                                                            std::optional<WSKOAuthAuthentication> auth = {})
    {
        if (!api)
            api = makeAPI();
        auto importer = std::make_shared<RavadidoFromBackpackImporter>(
            api, auth ? *auth : authenticationFor(noteStore->noteStoreUrl()));
        importer->setDelegate(&delegate);
        importer->startImportingPages(pages);
        EXPECT_TRUE(pumpUntil([&] { return delegate.ends > 0; }))
            << "the import never ended: " << delegate.events.join(" | ");
        EXPECT_TRUE(WorkQueue::waitForBackgroundWork(60000));
        QCoreApplication::processEvents();
        EXPECT_EQ(delegate.ends, 1) << delegate.events.join(" | ");
        EXPECT_FALSE(delegate.offMainThread);
        return importer;
    }

    // Active notes of the fake NoteStore, by notebook name.
    QMap<QString, QJsonArray> activeNotesByNotebook()
    {
        QMap<QString, QString> names;
        for (const QJsonValue &nb : noteStore->notebooks())
            names.insert(nb["guid"].toString(), nb["name"].toString());
        QMap<QString, QJsonArray> out;
        for (const QJsonValue &note : noteStore->notes())
            if (note["active"].toBool())
                out[names.value(note["notebookGuid"].toString())].append(note);
        return out;
    }

    int activeNoteCount()
    {
        int n = 0;
        for (const QJsonValue &note : noteStore->notes())
            n += note["active"].toBool();
        return n;
    }

    QStringList noteStoreCalls()
    {
        QStringList calls;
        for (const QJsonValue &r : noteStore->requests())
            calls << r["call"].toString();
        return calls;
    }

    static inline QTemporaryDir *dataHome = nullptr;
    static inline BackpackFake *backpack = nullptr;
    static inline FakeNoteStore *noteStore = nullptr;
};

} // namespace importertest
