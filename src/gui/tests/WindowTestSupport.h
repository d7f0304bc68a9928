#pragma once

// Shared pieces of the window tests: the program's own delegate and main
// window against the fake Backpack service, settings of the test's own,
// waiting, page scripts and screenshots.

#include "app/tests/BackpackPageBuilder.h"

#include "backpack/TGBackpackAPI.h"
#include "backpack/TGBackpackPage.h"
#include "gui/AccountStore.h"
#include "gui/ExportViewController.h"
#include "gui/LeafhaulAppDelegate.h"
#include "signin/SettingsKeys.h"
#include "testsupport/TestCertificateAuthority.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonArray>
#include <QMainWindow>
#include <QMessageBox>
#include <QWindow>
#include <QSettings>
#include <QTableView>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <gtest/gtest.h>

#include <memory>

inline std::ostream &operator<<(std::ostream &os, const QString &s)
{
    return os << s.toStdString();
}
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace window_test {

using namespace importertest;

template<typename Predicate>
bool waitFor(Predicate done, int ms = 30000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return done();
}

inline void settle(int ms = 300)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

inline QVariant evaluate(QWebEnginePage *page, const QString &script)
{
    bool done = false;
    QVariant result;
    page->runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    waitFor([&] { return done; }, 10000);
    return result;
}

// Saves a picture of `widget` once the web views in it have painted.
inline void saveScreenshot(QWidget *widget, const QString &name)
{
    const QString dir = qEnvironmentVariable("LEAFHAUL_TEST_ARTIFACTS");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    settle(800);
    EXPECT_TRUE(widget->grab().save(dir + QStringLiteral("/") + name + QStringLiteral(".png")));
}

inline QVariantMap accountRecord(const QString &site = kSite, const QString &token = kToken)
{
    return {{QLatin1String(SettingsKeys::kSiteName), site},
            {QLatin1String(SettingsKeys::kUserName), kUser},
            {QLatin1String(SettingsKeys::kPassword), kPassword},
            {QLatin1String(SettingsKeys::kAPIKey), token}};
}

inline QStringList tableTitles(QTableView *table)
{
    QStringList titles;
    for (int row = 0; row < table->model()->rowCount(); ++row)
        titles << table->model()->index(row, 1).data().toString();
    return titles;
}

inline QList<QMessageBox *> openAlerts()
{
    QList<QMessageBox *> boxes;
    for (QWidget *widget : QApplication::topLevelWidgets())
        for (QMessageBox *box : widget->findChildren<QMessageBox *>())
            if (box->isVisible())
                boxes << box;
    return boxes;
}

inline void closeAlerts()
{
    for (QMessageBox *box : openAlerts())
        box->close();
    settle(50);
}

// One fake Backpack service for the binary's run (each case is a process of
// its own); each case gets its own settings file and a fresh site.
class WindowTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        backpack = new BackpackFake;
        ASSERT_TRUE(backpack->start()) << backpack->errorString();
    }
    static void TearDownTestSuite() { delete std::exchange(backpack, nullptr); }

    void SetUp() override
    {
        // scripts/test gives a private display, keyring and home; elsewhere
        // (an IDE's plain ctest) these would touch the developer's own.
        if (qEnvironmentVariableIsEmpty("LEAFHAUL_TEST_ARTIFACTS"))
            GTEST_SKIP() << "run through scripts/test";
        ASSERT_TRUE(backpack && backpack->reset()) << backpack->errorString();
        const auto *test = ::testing::UnitTest::GetInstance()->current_test_info();
        QCoreApplication::setOrganizationName(QStringLiteral("LeafhaulTests"));
        QCoreApplication::setApplicationName(QStringLiteral("%1-%2").arg(test->test_suite_name(), test->name()));
        QSettings().clear();
        QSettings().sync();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        // The program's own way to trust a service's authority.
        qputenv("LEAFHAUL_CA_FILE", TestCertificateAuthority::shared().caCertPath().toUtf8());
        QString error;
        ASSERT_TRUE(LeafhaulAppDelegate::trustCertificateAuthorityFromEnvironment(&error)) << error;
    }
    void TearDown() override
    {
        closeAlerts();
        delegate.reset();
        settle(50);
        QFile::remove(QSettings().fileName());
    }

    void useSite(const Site &site) { ASSERT_TRUE(backpack->setSite(site.json())) << backpack->errorString(); }

    static Site siteWithTitles(const QStringList &titles)
    {
        Site site;
        int id = 100;
        for (const QString &title : titles) {
            const QString pageID = QString::number(++id);
            site.pages << PageBuilder(pageID, title).note("n" + pageID, "Note", "text");
        }
        return site;
    }

    void launch()
    {
        AccountStore::secureSettingsFile();
        delegate = std::make_unique<LeafhaulAppDelegate>();
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(QTest_waitForExposed());
    }

    bool QTest_waitForExposed()
    {
        return waitFor([&] { return delegate->window()->isVisible() && delegate->window()->windowHandle()
                                    && delegate->window()->windowHandle()->isExposed(); });
    }

    ExportViewController *exportView() const { return delegate->exportViewController(); }
    QTableView *table() const { return exportView()->pagesTableView(); }

    bool waitForPages()
    {
        return waitFor([&] { return !exportView()->isLoadingPages(); });
    }

    int requestsFor(const QString &path)
    {
        int n = 0;
        for (const QJsonValue &request : backpack->requests())
            n += request[QStringLiteral("path")].toString() == path;
        return n;
    }

    static inline BackpackFake *backpack = nullptr;
    std::unique_ptr<LeafhaulAppDelegate> delegate;
};

} // namespace window_test
