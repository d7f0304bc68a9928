// The progress sheet: what each importer event shows, the bar's arithmetic,
// Stop, and how an import's end closes the sheet.

#include "GuiTestSupport.h"

#include "app/Ravadido.h"
#include "foundation/Error.h"
#include "foundation/SystemLog.h"
#include "gui/Alerts.h"
#include "gui/ImportProgressSheet.h"
#include "gui/Spinner.h"

#include <QProgressBar>
#include <QPushButton>

namespace {

using namespace gui_test;

class ImportProgressSheetTest : public SheetTest
{
protected:
    void SetUp() override
    {
        SheetTest::SetUp();
        if (IsSkipped())
            return;
        sheet = new ImportProgressSheet(&window);
        status = sheet->findChild<QLabel *>("importStatusLabel");
        bar = sheet->findChild<QProgressBar *>("importProgress");
        spinner = sheet->findChild<Spinner *>("importDetailProgress");
        detail = sheet->findChild<QLabel *>("importDetailStatusLabel");
        stop = sheet->findChild<QPushButton *>("stopButton");
        ASSERT_TRUE(status && bar && spinner && detail && stop);
        QObject::connect(sheet, &ImportProgressSheet::stopRequested, sheet, [this] { ++stopRequests; });
        QObject::connect(sheet, &ImportProgressSheet::authenticationExpired, sheet, [this] { ++reauthorisations; });
    }

    // The bar as drawn, as a fraction of full.
    double drawn() const { return double(bar->value() - bar->minimum()) / double(bar->maximum() - bar->minimum()); }

    ImportProgressSheet *sheet = nullptr;
    QLabel *status = nullptr;
    QProgressBar *bar = nullptr;
    Spinner *spinner = nullptr;
    QLabel *detail = nullptr;
    QPushButton *stop = nullptr;
    int stopRequests = 0;
    int reauthorisations = 0;
};

TEST_F(ImportProgressSheetTest, ShowsEachStepOfAnImportOfSeveralPages)
{
    sheet->beginImport(3);
    settle(50);
    EXPECT_TRUE(sheet->isVisible());
    // Not modal: the main window must still take its close button and Quit.
    EXPECT_EQ(sheet->windowModality(), Qt::NonModal);
    EXPECT_EQ(status->text(), QStringLiteral("Starting import…"));
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_EQ(sheet->progressMaximum(), 3);

    // A title with what a format or markup would change is shown as it is.
    sheet->willImportPage(QStringLiteral("Q3 <b>plans</b> at 50% %1"));
    EXPECT_EQ(status->text(), QStringLiteral("Importing Q3 <b>plans</b> at 50% %1…"));
    EXPECT_EQ(status->textFormat(), Qt::PlainText);

    // The detail line moves right of the spinner while data is transferred.
    const QRect resting = detail->geometry();
    sheet->detailStatus(QStringLiteral("downloading plan 100%.pdf…"), true);
    EXPECT_TRUE(detail->isVisible());
    EXPECT_EQ(detail->text(), QStringLiteral("downloading plan 100%.pdf…"));
    EXPECT_TRUE(spinner->isAnimating());
    EXPECT_EQ(detail->geometry(), resting.translated(spinner->x() + spinner->width() + 5 - resting.x(), 0));
    sheet->detailStatus(QStringLiteral("creating note Shopping…"), false);
    EXPECT_FALSE(spinner->isAnimating());
    EXPECT_EQ(detail->geometry(), resting.translated(spinner->x() - resting.x(), 0));

    // Elements do not count when there are several pages.
    sheet->didImportWidget(7);
    sheet->didImportPage();
    EXPECT_EQ(sheet->progressValue(), 1);
    EXPECT_EQ(sheet->progressMaximum(), 3);
    EXPECT_FALSE(detail->isVisible());
    EXPECT_NEAR(drawn(), 1.0 / 3.0, 0.001);
    // Mid-import, as a user sees it: a page done, a file on its way.
    sheet->detailStatus(QStringLiteral("downloading plan 100%.pdf…"), true);
    saveScreenshot(sheet, QStringLiteral("import-progress-sheet"), 50);

    sheet->didFinish();
    EXPECT_EQ(drawn(), 1.0);
    EXPECT_FALSE(sheet->isVisible());
    settle(50);
    EXPECT_TRUE(openAlerts().isEmpty());
}

TEST_F(ImportProgressSheetTest, OnePageImportCountsEveryElementOfThePage)
{
    const struct
    {
        const char *name;
        qsizetype elementsOnPage; // all of them, also the ones not imported
        int elementsImported;
        double valueAfterPage;
    } cases[] = {
        // A separator among three elements: two element steps, then the page's.
        {"three with a separator", 3, 2, 3},
        // The page's step passes the maximum by one; the bar simply shows full.
        {"all imported", 2, 2, 3},
        {"empty page", 0, 0, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sheet->beginImport(1);
        EXPECT_EQ(sheet->progressMaximum(), 1);
        for (int i = 0; i < c.elementsImported; ++i)
            sheet->didImportWidget(c.elementsOnPage);
        EXPECT_EQ(sheet->progressMaximum(), c.elementsImported > 0 ? double(c.elementsOnPage) : 1.0);
        sheet->didImportPage();
        EXPECT_EQ(sheet->progressValue(), c.valueAfterPage);
        EXPECT_EQ(drawn(), std::min(1.0, c.valueAfterPage / sheet->progressMaximum()));
        sheet->didFinish();
        EXPECT_EQ(sheet->progressValue(), sheet->progressMaximum());
        EXPECT_FALSE(sheet->isVisible());
    }
}

TEST_F(ImportProgressSheetTest, StopWaitsForTheImporterAndANewImportStartsAfresh)
{
    sheet->beginImport(4);
    sheet->didImportPage();
    settle(50);
    press(sheet, Qt::Key_Escape);
    EXPECT_TRUE(sheet->isVisible()) << "Escape does not end a running import";
    EXPECT_EQ(stopRequests, 0);

    sheet->close(); // the window's close button is Stop
    stop->click(); // which is then disabled
    EXPECT_EQ(status->text(), QStringLiteral("Stopping Import. Please wait for the current operation to finish…"));
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_EQ(stopRequests, 1);
    EXPECT_TRUE(sheet->isVisible());

    sheet->wasCancelled();
    settle(50);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_EQ(sheet->progressValue(), 1) << "a stop leaves the bar where it stands";
    EXPECT_TRUE(openAlerts().isEmpty());

    sheet->beginImport(2);
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_EQ(status->text(), QStringLiteral("Starting import…"));
    EXPECT_EQ(drawn(), 0.0);
}

TEST_F(ImportProgressSheetTest, AFailureClosesTheSheetAndIsShownUnlessTheTokenExpired)
{
    const struct
    {
        const char *name;
        Error error;
        bool reauthorise;
    } cases[] = {
        {"expired token", Error(kLeafhaulErrorDomain, 9, QStringLiteral("The token has expired.")), true},
        // Code 9 of another service is not the note service's expired token.
        {"code 9 elsewhere", Error(QStringLiteral("TGBackpackErrorDomain"), 9, QStringLiteral("Backpack said 9")),
         false},
        {"other error", Error(kLeafhaulErrorDomain, 0, QStringLiteral("Upload stopped at 80% (%1).")), false},
    };
    QStringList logged;
    setSystemLogObserver([&](const QString &line) { logged << line; });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        reauthorisations = 0;
        logged.clear();
        sheet->beginImport(2);
        sheet->didImportPage();
        sheet->didFailWithError(c.error);
        settle(50);
        EXPECT_FALSE(sheet->isVisible());
        EXPECT_EQ(sheet->progressValue(), 1);
        EXPECT_EQ(logged, QStringList{QStringLiteral("Error importing pages: ") + c.error.localizedDescription});
        EXPECT_EQ(reauthorisations, c.reauthorise ? 1 : 0);
        const QList<QMessageBox *> alerts = openAlerts();
        ASSERT_EQ(alerts.size(), c.reauthorise ? 0 : 1);
        if (!alerts.isEmpty()) {
            EXPECT_EQ(alerts.first()->informativeText(), Alerts::message(Alerts::Kind::ImportFailed, c.error));
            closeAlerts();
        }
    }
    setSystemLogObserver({});
}

} // namespace
