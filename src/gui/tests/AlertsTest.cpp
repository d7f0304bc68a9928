// The critical alerts: title, message, one OK button, window-modal, and
// error texts shown exactly as the service wrote them.

#include "SheetTestSupport.h"

#include "foundation/Error.h"
#include "gui/Alerts.h"

#include <QAbstractButton>
#include <QPointer>

namespace {

using namespace sheet_test;
using Alerts::Kind;

// Texts that a format or a markup reader would change.
const QString kDescription = QStringLiteral("Quota at 100% (%1 of %2, %s%d %%) <b>not bold</b> &amp;");
const QString kSuggestion = QStringLiteral("Free 5% of your space: %1 %n <i>now</i>");

struct AlertCase
{
    Kind kind;
    const char *name;
    QString title;
    QString message;  // for kDescription and kSuggestion
};

const AlertCase kCases[] = {
    {Kind::ImportFailed, "import-failed", QStringLiteral("Import Failed"),
     QStringLiteral("Leafhaul was unable to import all the pages.\n\n") + kDescription + QStringLiteral("\n\n")
         + kSuggestion},
    {Kind::PagesNotDownloaded, "pages-not-downloaded", QStringLiteral("Could Not Download Backpack Pages"),
     QStringLiteral("Leafhaul could not download the Backpack pages for the current account because of the error: ")
         + kDescription + QStringLiteral(".\n\nMake sure the account credentials are correct.")},
    {Kind::SignInFailed, "sign-in-failed", QStringLiteral("Leafhaul couldn't authenticate you with Ravadido."),
     kDescription},
    {Kind::AccountsNotSaved, "accounts-not-saved", QStringLiteral("Could Not Save Backpack Accounts"),
     QStringLiteral("Leafhaul could not save the Backpack accounts: ") + kDescription},
};

class AlertsTest : public SheetTest
{
};

TEST_F(AlertsTest, EachAlertIsCriticalWindowModalWithOneOkAndTheTextsAsWritten)
{
    const Error error(QStringLiteral("test"), 7, kDescription, QStringLiteral("reason"), kSuggestion);
    for (const AlertCase &c : kCases) {
        SCOPED_TRACE(c.name);
        QMessageBox *box = Alerts::show(&window, c.kind, error);
        ASSERT_TRUE(box->isVisible());
        EXPECT_EQ(box->parentWidget(), &window);
        EXPECT_EQ(box->windowModality(), Qt::WindowModal);
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        ASSERT_EQ(box->buttons().size(), 1);
        EXPECT_EQ(box->standardButton(box->buttons().first()), QMessageBox::Ok);
        EXPECT_EQ(box->text(), c.title);
        EXPECT_EQ(box->informativeText(), c.message);
        // On the screen too: plain labels holding the texts unchanged.
        EXPECT_EQ(labelTexts(box), (QStringList{c.title, c.message}));
        saveScreenshot(box, QStringLiteral("alert-") + QLatin1String(c.name));

        const QPointer<QMessageBox> watched(box);
        box->buttons().first()->click();
        settle();
        EXPECT_TRUE(watched.isNull()) << "an alert deletes itself when it closes";
    }
}

TEST_F(AlertsTest, ImportFailedWithoutSuggestionEndsWithTheDescription)
{
    const Error error(QStringLiteral("test"), 7, QStringLiteral("The note was too big (110%)."));
    EXPECT_EQ(Alerts::message(Kind::ImportFailed, error),
              QStringLiteral("Leafhaul was unable to import all the pages.\n\nThe note was too big (110%)."));
}

}  // namespace
