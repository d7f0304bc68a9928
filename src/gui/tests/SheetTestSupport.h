#pragma once

// Helpers for the sheet and alert tests: a main window to open sheets on,
// typing and key presses as a person would, screenshots into the artefacts
// folder.

#include "gui/AccountStore.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QSettings>
#include <QThread>

#include <gtest/gtest.h>

namespace sheet_test {

inline void settle(int ms = 50)
{
    QElapsedTimer timer;
    timer.start();
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    } while (timer.elapsed() < ms);
}

inline void saveScreenshot(QWidget *window, const QString &name)
{
    const QString dir = qEnvironmentVariable("LEAFHAUL_TEST_ARTIFACTS");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    settle();
    EXPECT_TRUE(window->grab().save(dir + QStringLiteral("/") + name + QStringLiteral(".png")));
}

inline void press(QWidget *widget, int key, const QString &text = {})
{
    QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &down);
    QApplication::sendEvent(widget, &up);
}

inline void type(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        press(widget, 0, QString(c));
}

// The alerts open on `window` that are still showing.
inline QList<QMessageBox *> openAlerts(QWidget *window)
{
    QList<QMessageBox *> boxes;
    for (QMessageBox *box : window->findChildren<QMessageBox *>())
        if (box->isVisible())
            boxes << box;
    return boxes;
}

// What the box shows in its labels, as written on the screen.
inline QStringList labelTexts(QWidget *box)
{
    QStringList texts;
    for (QLabel *label : box->findChildren<QLabel *>())
        if (!label->text().isEmpty()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
            texts << label->text();
        }
    return texts;
}

// The main window the sheets open on, in settings of the test's own.
class SheetTest : public testing::Test
{
protected:
    void SetUp() override
    {
        // The display and the temporary home come from scripts/test.
        if (qEnvironmentVariableIsEmpty("LEAFHAUL_TEST_ARTIFACTS"))
            GTEST_SKIP() << "needs the display and temporary home of scripts/test";
        // ctest runs each case in its own process, in parallel: each gets a
        // settings file of its own.
        const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
        QCoreApplication::setOrganizationName(QStringLiteral("LeafhaulTests"));
        QCoreApplication::setApplicationName(QStringLiteral("%1-%2").arg(QLatin1String(test->test_suite_name()),
                                                                         QLatin1String(test->name())));
        QSettings().clear();
        window.resize(900, 600);
        window.setWindowTitle(QStringLiteral("Leafhaul"));
        window.show();
        settle();
    }
    void TearDown() override
    {
        for (QWidget *top : QApplication::topLevelWidgets())
            if (top != &window)
                top->close();
        settle();
        QFile::remove(AccountStore::settingsFilePath());
    }

    QMainWindow window;
};

}  // namespace sheet_test
