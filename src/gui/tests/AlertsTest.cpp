// The critical alerts: title, message, one OK button, window-modal, and
// error texts shown exactly as the service wrote them.

#include "GuiTestSupport.h"

#include "foundation/Error.h"
#include "gui/Alerts.h"

#include <QAbstractButton>
#include <QPointer>

namespace {

using namespace gui_test;
using Alerts::Kind;

// Texts that a format or a markup reader would change.
const QString kDescription = QStringLiteral("Quota at 100% (%1 of %2, %s%d %%) <b>not bold</b> &amp;");
const QString kSuggestion = QStringLiteral("Free 5% of your space: %1 %n <i>now</i>");

TEST_F(SheetTest, EachAlertIsCriticalWindowModalWithOneOkAndTheTextsAsWritten)
{
    const Error withSuggestion(QStringLiteral("test"), 7, kDescription, QStringLiteral("reason"), kSuggestion);
    const Error plain(QStringLiteral("test"), 7, kDescription);
    const Error fullStop(QStringLiteral("test"), 7, QStringLiteral("The server said no."));
    const Error following(QStringLiteral("test"), 500, QStringLiteral("Backpack returned the following error:\n"),
                          QStringLiteral("Internal Server Error"), {}, {{kErrorServiceTextKey, "Page is locked."}});
    const struct
    {
        Kind kind;
        const char *name; // of the screenshot; none for a repeat
        const Error &error;
        QString title;
        QString message;
    } cases[] = {
        {Kind::ImportFailed, "import-failed", withSuggestion, QStringLiteral("Import Failed"),
         QStringLiteral("Leafhaul was unable to import all the pages.\n\n") + kDescription + QStringLiteral("\n\n")
             + kSuggestion},
        // Without a suggestion the message ends with the description.
        {Kind::ImportFailed, nullptr, plain, QStringLiteral("Import Failed"),
         QStringLiteral("Leafhaul was unable to import all the pages.\n\n") + kDescription},
        // What follows the colon is shown: the reason and the service's words.
        {Kind::ImportFailed, nullptr, following, QStringLiteral("Import Failed"),
         QStringLiteral("Leafhaul was unable to import all the pages.\n\nBackpack returned the following error:\n"
                        "Internal Server Error: Page is locked.")},
        {Kind::PagesNotDownloaded, "pages-not-downloaded", withSuggestion,
         QStringLiteral("Could Not Download Backpack Pages"),
         QStringLiteral("Leafhaul could not download the Backpack pages for the current account because of the "
                        "error: ")
             + kDescription + QStringLiteral(".\n\nMake sure the account credentials are correct.")},
        // A description with its own full stop ends the sentence once.
        {Kind::PagesNotDownloaded, nullptr, fullStop, QStringLiteral("Could Not Download Backpack Pages"),
         QStringLiteral("Leafhaul could not download the Backpack pages for the current account because of the "
                        "error: The server said no.\n\nMake sure the account credentials are correct.")},
        {Kind::SignInFailed, "sign-in-failed", withSuggestion,
         QStringLiteral("Leafhaul couldn't authenticate you with Ravadido."), kDescription},
        {Kind::AccountsNotSaved, "accounts-not-saved", plain, QStringLiteral("Could Not Save Backpack Accounts"),
         QStringLiteral("Leafhaul could not save the Backpack accounts: ") + kDescription},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title.toStdString());
        QMessageBox *box = Alerts::show(&window, c.kind, c.error);
        ASSERT_TRUE(box->isVisible());
        EXPECT_EQ(box->parentWidget(), &window);
        EXPECT_EQ(box->windowModality(), Qt::WindowModal);
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_EQ(box->windowTitle(), c.title) << "a screen reader announces the window's title";
        ASSERT_EQ(box->buttons().size(), 1);
        EXPECT_EQ(box->standardButton(box->buttons().first()), QMessageBox::Ok);
        // On the screen: plain labels holding the texts unchanged.
        QStringList shown;
        for (QLabel *label : box->findChildren<QLabel *>())
            if (!label->text().isEmpty() && label->textFormat() == Qt::PlainText)
                shown << label->text();
        EXPECT_EQ(shown, (QStringList{c.title, c.message}));
        if (c.name)
            saveScreenshot(box, QStringLiteral("alert-") + QLatin1String(c.name), 50);

        const QPointer<QMessageBox> watched(box);
        box->buttons().first()->click();
        settle(50);
        EXPECT_TRUE(watched.isNull()) << "an alert deletes itself when it closes";
    }
}

} // namespace
