// The import confirmation: its three paragraphs, the stack named as the
// importer names it, its fixed height, and the answer it gives.

#include "SheetTestSupport.h"

#include "gui/ImportBackpackSheet.h"

#include <QLabel>
#include <QPushButton>

#include <functional>

namespace {

using namespace sheet_test;

const QString kAllPages = QStringLiteral("Leafhaul will import all the Backpack pages into Ravadido.");
const QString kSelectedPages = QStringLiteral("Leafhaul will import the selected Backpack pages into Ravadido.");
const QString kNotebooks = QStringLiteral(
    "Leafhaul will create a notebook for each page with the same name as the page. Each note, list, etc. on the "
    "page will become a note in Ravadido and placed in the new notebook.");

QString stackSentence(const QString &stack)
{
    return QStringLiteral("In addition, all the new notebooks will be placed in an Ravadido stack named ") + stack
           + QLatin1Char('.');
}

class ImportBackpackSheetTest : public SheetTest
{
protected:
    struct Answer
    {
        int count = 0;
        int result = -1;
        bool hiddenWhenTold = false;
    };

    void present(ImportBackpackSheet &sheet, const QString &account, bool selected)
    {
        sheet.setAccountName(account);
        sheet.setNotesAreSelected(selected);
        sheet.beginImportBackpackSheet();
        settle();
    }

    void listen(ImportBackpackSheet &sheet)
    {
        QObject::connect(&sheet, &ImportBackpackSheet::importBackpackSheetDidEnd, &sheet,
                         [this](ImportBackpackSheet *s, int result) {
                             ++answer.count;
                             answer.result = result;
                             answer.hiddenWhenTold = !s->isVisible();
                         });
    }

    Answer answer;
};

TEST_F(ImportBackpackSheetTest, ThreeParagraphsNamingTheStackAsTheImporterDoes)
{
    struct Case
    {
        QString account;
        bool selected;
        QString opening;
        QString stack;  // as the importer creates it
    };
    const Case cases[] = {
        {QStringLiteral("acme"), false, kAllPages, QStringLiteral("acme Backpack Account")},
        {QStringLiteral("acme"), true, kSelectedPages, QStringLiteral("acme Backpack Account")},
        // The importer trims the site name; a '%' or a placeholder in it is
        // the user's text, not a format.
        {QStringLiteral(" acme\n"), true, kSelectedPages, QStringLiteral("acme Backpack Account")},
        {QStringLiteral("100%-%1-%2"), false, kAllPages, QStringLiteral("100%-%1-%2 Backpack Account")},
        {QStringLiteral("<b>bold</b>"), false, kAllPages, QStringLiteral("<b>bold</b> Backpack Account")},
    };
    ImportBackpackSheet sheet(&window);
    auto *label = sheet.findChild<QLabel *>(QStringLiteral("explanation"));
    ASSERT_TRUE(label);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.account.toStdString());
        present(sheet, c.account, c.selected);
        const QString expected = c.opening + QStringLiteral("\n\n") + kNotebooks + QStringLiteral("\n\n")
                                 + stackSentence(c.stack);
        EXPECT_EQ(sheet.labelText(), expected);
        EXPECT_EQ(label->text(), expected);
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        sheet.done(ImportBackpackSheet::kCancel);
    }
}

TEST_F(ImportBackpackSheetTest, WindowModalAnd375TallAtEveryShowingWhateverTheText)
{
    ImportBackpackSheet sheet(&window);
    present(sheet, QStringLiteral("acme"), true);
    saveScreenshot(&sheet, QStringLiteral("import-confirmation-sheet"));
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
    EXPECT_EQ(sheet.parentWidget(), &window);
    EXPECT_EQ(sheet.height(), ImportBackpackSheet::kHeight);
    const int width = sheet.width();
    sheet.done(ImportBackpackSheet::kCancel);

    present(sheet, QString(300, QLatin1Char('w')), false);
    EXPECT_EQ(sheet.height(), 375);
    EXPECT_EQ(sheet.width(), width);
    sheet.done(ImportBackpackSheet::kCancel);
}

TEST_F(ImportBackpackSheetTest, EachWayOfClosingAnswersOnceAfterTheSheetIsHidden)
{
    struct Case
    {
        const char *how;
        std::function<void(ImportBackpackSheet &)> close;
        int result;
    };
    const Case cases[] = {
        {"Import", [](ImportBackpackSheet &s) { s.findChild<QPushButton *>(QStringLiteral("importButton"))->click(); },
         ImportBackpackSheet::kImport},
        {"Cancel", [](ImportBackpackSheet &s) { s.findChild<QPushButton *>(QStringLiteral("cancelButton"))->click(); },
         ImportBackpackSheet::kCancel},
        {"Escape", [](ImportBackpackSheet &s) { press(&s, Qt::Key_Escape); }, ImportBackpackSheet::kCancel},
        {"Return", [](ImportBackpackSheet &s) { press(&s, Qt::Key_Return); }, ImportBackpackSheet::kImport},
    };
    ImportBackpackSheet sheet(&window);
    listen(sheet);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.how);
        answer = {};
        present(sheet, QStringLiteral("acme"), false);
        c.close(sheet);
        settle();
        EXPECT_EQ(answer.count, 1);
        EXPECT_EQ(answer.result, c.result);
        EXPECT_TRUE(answer.hiddenWhenTold);
    }
}

}  // namespace
