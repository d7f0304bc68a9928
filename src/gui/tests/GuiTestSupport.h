#pragma once

// Shared pieces of the window tests: settings of the case's own, a main
// window for the sheets, the program's own delegate over the importer tests'
// fakes, typing, alerts, page scripts and screenshots. Waiting comes from
// the sign-in tests (waitFor, settle).

#include "FakeProvider.h"
#include "app/tests/ImporterTestSupport.h"

#include "gui/AccountStore.h"
#include "gui/ExportViewController.h"
#include "gui/LeafhaulAppDelegate.h"
#include "signin/SettingsKeys.h"
#include "testsupport/TestCertificateAuthority.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QTableView>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWindow>

namespace gui_test {

using namespace importertest;

// ctest runs each case in a process of its own, in parallel: each gets a
// settings file of its own. The display and the temporary home come from
// scripts/test; elsewhere these tests would touch the developer's own.
inline bool useOwnSettings()
{
    if (qEnvironmentVariableIsEmpty("LEAFHAUL_TEST_ARTIFACTS"))
        return false;
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    QCoreApplication::setOrganizationName(QStringLiteral("LeafhaulTests"));
    QCoreApplication::setApplicationName(
        QStringLiteral("%1-%2").arg(QLatin1String(test->test_suite_name()), QLatin1String(test->name())));
    QSettings().clear();
    QSettings().sync();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    return true;
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

// A picture of `widget`, once its web views have painted, in the artefacts.
inline void saveScreenshot(QWidget *widget, const QString &name, int paintMs = 800)
{
    const QString dir = qEnvironmentVariable("LEAFHAUL_TEST_ARTIFACTS");
    QDir().mkpath(dir);
    settle(paintMs);
    EXPECT_TRUE(widget->grab().save(dir + QStringLiteral("/") + name + QStringLiteral(".png")));
}

// Where the window manager framed `widget`'s window, once it has told Qt; an
// empty rectangle if it never does. Not the widget's frameGeometry(): that is
// refreshed only when the window moves or is resized, and may miss the frame.
inline QRect framedGeometry(const QWidget *widget)
{
    const QWindow *window = widget->windowHandle();
    if (!window || !waitFor([&] { return !window->frameMargins().isNull(); }))
        return {};
    return window->frameGeometry();
}

// The screen as the X server holds it (not a widget drawn anew): `frame` goes
// to the artefacts as `name`.png; returns `area`'s mean lightness (0: black).
inline int captureScreen(const char *name, const QRect &frame, const QRect &area)
{
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    EXPECT_TRUE(screen.copy(frame).save(qEnvironmentVariable("LEAFHAUL_TEST_ARTIFACTS") + '/' + name + ".png"));
    return screen.copy(area).scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixelColor(0, 0).lightness();
}

inline void press(QWidget *widget, int key, const QString &text = {})
{
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, key, Qt::NoModifier, text);
        QApplication::sendEvent(widget, &event);
    }
}

inline void type(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        press(widget, 0, QString(c));
}

inline QVariantMap accountRecord(const QString &site = kSite, const QString &user = kUser)
{
    return {{QLatin1String(SettingsKeys::kSiteName), site},
            {QLatin1String(SettingsKeys::kUserName), user},
            {QLatin1String(SettingsKeys::kPassword), kPassword},
            {QLatin1String(SettingsKeys::kAPIKey), kToken}};
}

// A table's column as shown.
inline QStringList columnTexts(const QAbstractItemModel *model, int column)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << model->index(row, column).data().toString();
    return texts;
}

inline QList<QMessageBox *> openAlerts()
{
    QList<QMessageBox *> boxes;
    for (QWidget *top : QApplication::topLevelWidgets())
        if (auto *box = qobject_cast<QMessageBox *>(top); box && box->isVisible())
            boxes << box;
    return boxes;
}

inline void closeAlerts()
{
    for (QMessageBox *box : openAlerts())
        box->close();
    settle(50);
}

// A main window of the test's own to open sheets and alerts on.
class SheetTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!useOwnSettings())
            GTEST_SKIP() << "run through scripts/test";
        window.resize(900, 600);
        window.setWindowTitle(QStringLiteral("Leafhaul"));
        window.show();
        settle(50);
    }
    void TearDown() override
    {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top != &window)
                top->close();
        settle(50);
        QFile::remove(AccountStore::settingsFilePath());
    }

    QMainWindow window;
};

// The program's delegate and main window against the fake services, trusting
// their authority as the program does (LEAFHAUL_CA_FILE).
class WindowTest : public ImporterTest
{
protected:
    void SetUp() override
    {
        if (!useOwnSettings())
            GTEST_SKIP() << "run through scripts/test";
        ImporterTest::SetUp();
        qputenv("LEAFHAUL_CA_FILE", TestCertificateAuthority::shared().caCertPath().toUtf8());
        QString error;
        ASSERT_TRUE(LeafhaulAppDelegate::trustCertificateAuthorityFromEnvironment(&error)) << error;
    }
    void TearDown() override
    {
        closeAlerts();
        delegate.reset();
        settle(50);
        QFile::remove(AccountStore::settingsFilePath());
    }

    // Pages 101, 102, ... with one note each.
    void useSite(const QStringList &titles, Site site = {})
    {
        for (const QString &title : titles) {
            const QString id = QString::number(101 + site.pages.size());
            site.pages << PageBuilder(id, title).note("n" + id, "Note", "text");
        }
        ASSERT_TRUE(backpack->setSite(site.json())) << backpack->errorString();
    }

    void launch()
    {
        AccountStore::secureSettingsFile();
        delegate = std::make_unique<LeafhaulAppDelegate>();
        delegate->applicationDidFinishLaunching();
        ASSERT_TRUE(waitFor([&] {
            QWindow *handle = delegate->window()->windowHandle();
            return handle && handle->isExposed();
        }));
    }

    ExportViewController *exportView() const { return delegate->exportViewController(); }
    QTableView *table() const { return exportView()->pagesTableView(); }
    QStringList titles() const { return columnTexts(table()->model(), 1); }
    bool waitForPages()
    {
        return waitFor([&] { return !exportView()->isLoadingPages(); });
    }
    bool waitForPreview(const QString &path)
    {
        QWebEnginePage *page = exportView()->webView()->page();
        return waitFor([=] { return page->url().path() == path && !page->isLoading(); });
    }

    qsizetype pageListRequests()
    {
        const QJsonArray requests = backpack->requests();
        return std::count_if(requests.begin(), requests.end(),
                             [](const QJsonValue &request) { return request["path"] == "ws/pages/all"; });
    }

    std::unique_ptr<LeafhaulAppDelegate> delegate;
};

} // namespace gui_test
