#include "gui/Alerts.h"

#include "foundation/Error.h"

#include <QLabel>
#include <QMessageBox>

namespace {

struct AlertText
{
    Alerts::Kind kind;
    const char *title;
    const char *message; // %1: the error's description
    bool withRecoverySuggestion; // appended as its own paragraph when there is one
};

constexpr AlertText kAlerts[] = {
    {Alerts::Kind::ImportFailed, "Import Failed", "Leafhaul was unable to import all the pages.\n\n%1", true},
    {Alerts::Kind::PagesNotDownloaded, "Could Not Download Backpack Pages",
     "Leafhaul could not download the Backpack pages for the current account because of the error: "
     "%1.\n\nMake sure the account credentials are correct.",
     false},
    {Alerts::Kind::SignInFailed, "Leafhaul couldn't authenticate you with Ravadido.", "%1", false},
    {Alerts::Kind::AccountsNotSaved, "Could Not Save Backpack Accounts",
     "Leafhaul could not save the Backpack accounts: %1", false},
};

const AlertText &textOf(Alerts::Kind kind)
{
    for (const AlertText &text : kAlerts)
        if (text.kind == kind)
            return text;
    Q_UNREACHABLE();
}

// A single-argument arg() inserts `text` as it is; it is never scanned for
// placeholders of its own.
QString fillIn(const char *format, const QString &text)
{
    return localizedString(format).arg(text);
}

// A description that ends its own sentence takes the full stop that the
// text puts after it away: each sentence ends once.
QString endingOnce(QString format, const QString &description)
{
    static const QString kEnds = QStringLiteral(".!?\u2026");
    const QString trimmed = description.trimmed();
    if (!trimmed.isEmpty() && kEnds.contains(trimmed.back()))
        format.replace(QLatin1String("%1."), QLatin1String("%1"));
    return format;
}

// "Backpack returned the following error:" is said only to go on: with the
// failure reason and the service's own words.
QString fullDescription(const Error &error)
{
    const QString description = error.localizedDescription.trimmed();
    if (!description.endsWith(QLatin1Char(':')))
        return error.localizedDescription;
    QStringList details;
    for (const QString &detail :
         {error.localizedFailureReason.trimmed(), error.userInfo.value(kErrorServiceTextKey).toString().trimmed()})
        if (!detail.isEmpty())
            details << detail;
    if (details.isEmpty())
        return error.localizedDescription;
    return description + QLatin1Char('\n') + details.join(QStringLiteral(": "));
}

} // namespace

namespace Alerts {

QString title(Kind kind)
{
    return localizedString(textOf(kind).title);
}

QString message(Kind kind, const Error &error)
{
    const AlertText &text = textOf(kind);
    const QString description = fullDescription(error);
    QString result = endingOnce(localizedString(text.message), description).arg(description);
    if (text.withRecoverySuggestion && !error.localizedRecoverySuggestion.isEmpty())
        result += fillIn("\n\n%1", error.localizedRecoverySuggestion);
    return result;
}

QMessageBox *show(QWidget *window, Kind kind, const Error &error)
{
    return showCritical(window, title(kind), message(kind, error));
}

QMessageBox *showCritical(QWidget *window, const QString &title, const QString &message)
{
    // The title is the window's too: a screen reader announces that first.
    auto *box = new QMessageBox(QMessageBox::Critical, title, title, QMessageBox::Ok,
                                window ? window->window() : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(message);
    // The informative label guesses its format from the text; an error text
    // that looks like markup must still show as written.
    for (QLabel *label : box->findChildren<QLabel *>())
        label->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::WindowModal);
    box->open();
    return box;
}

} // namespace Alerts
