// The import confirmation: its three paragraphs, the stack named as the
// importer names it, its fixed height, and the answer it gives.

#include "GuiTestSupport.h"

#include "gui/ImportBackpackSheet.h"

#include <QPushButton>

#include <functional>

namespace {

using namespace gui_test;

const QString kAllPages = QStringLiteral("Leafhaul will import all the Backpack pages into Ravadido.");
const QString kSelectedPages = QStringLiteral("Leafhaul will import the selected Backpack pages into Ravadido.");

void present(ImportBackpackSheet &sheet, const QString &account, bool selected)
{
    sheet.setAccountName(account);
    sheet.setNotesAreSelected(selected);
    sheet.beginImportBackpackSheet();
    settle(50);
}

TEST_F(SheetTest, ConfirmationHasThreeParagraphsNamingTheStackAsTheImporterDoes)
{
    const struct
    {
        QString account;
        bool selected;
        QString opening;
        QString stack; // as the importer creates it
    } cases[] = {
        {QStringLiteral("acme"), false, kAllPages, QStringLiteral("acme Backpack Account")},
        {QStringLiteral(" acme\n"), true, kSelectedPages, QStringLiteral("acme Backpack Account")},
        // The user's text, not a format and not markup.
        {QStringLiteral("100%-%1-<b>"), false, kAllPages, QStringLiteral("100%-%1-<b> Backpack Account")},
        // A long text changes nothing of the height.
        {QString(80, QLatin1Char('w')), true, kSelectedPages, QString(80, QLatin1Char('w')) + " Backpack Account"},
    };
    ImportBackpackSheet sheet(&window);
    auto *label = sheet.findChild<QLabel *>(QStringLiteral("explanation"));
    ASSERT_TRUE(label);
    int width = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.account.toStdString());
        present(sheet, c.account, c.selected);
        EXPECT_EQ(label->text(),
                  c.opening
                      + QStringLiteral("\n\nLeafhaul will create a notebook for each page with the same name as the "
                                       "page. Each note, list, etc. on the page will become a note in Ravadido and "
                                       "placed in the new notebook.\n\nIn addition, all the new notebooks will be "
                                       "placed in an Ravadido stack named ")
                      + c.stack + QLatin1Char('.'));
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
        EXPECT_EQ(sheet.height(), 375);
        EXPECT_EQ(sheet.width(), width ? width : (width = sheet.width()));
        if (c.account == QStringLiteral("acme"))
            saveScreenshot(&sheet, QStringLiteral("import-confirmation-sheet"), 50);
        sheet.done(ImportBackpackSheet::kCancel);
    }
}

TEST_F(SheetTest, ConfirmationAnswersOnceAfterItIsHiddenEachWayItCloses)
{
    const struct
    {
        const char *how;
        std::function<void(ImportBackpackSheet &)> close;
        int result;
    } cases[] = {
        {"Import", [](ImportBackpackSheet &s) { s.findChild<QPushButton *>("importButton")->click(); }, 1},
        {"Cancel", [](ImportBackpackSheet &s) { s.findChild<QPushButton *>("cancelButton")->click(); }, 0},
        {"Escape", [](ImportBackpackSheet &s) { press(&s, Qt::Key_Escape); }, 0},
        {"Return", [](ImportBackpackSheet &s) { press(&s, Qt::Key_Return); }, 1},
    };
    ImportBackpackSheet sheet(&window);
    QList<std::pair<int, bool>> answers; // result, hidden when told
    QObject::connect(&sheet, &ImportBackpackSheet::importBackpackSheetDidEnd, &sheet,
                     [&](ImportBackpackSheet *s, int result) {
                         answers.append({result, !s->isVisible()});
                     });
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        answers.clear();
        present(sheet, QStringLiteral("acme"), false);
        c.close(sheet);
        settle(50);
        EXPECT_EQ(answers, (QList<std::pair<int, bool>>{{c.result, true}}));
    }
}

} // namespace
