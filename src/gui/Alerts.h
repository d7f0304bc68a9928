#pragma once

#include <QString>

class QMessageBox;
class QWidget;
struct Error;

// The critical alerts shown over the main window: window-modal, one OK
// button, no answer to wait for. Error texts go in as they are and are shown
// as plain text: never read as a format, never as markup.
namespace Alerts {

enum class Kind {
    ImportFailed, // an import ended with an error
    PagesNotDownloaded, // an account's page list could not be loaded
    SignInFailed, // the sign-in ended with an error other than a closed sheet
    AccountsNotSaved, // the account editor could not write the settings file
};

QString title(Kind kind);
QString message(Kind kind, const Error &error);

// Opens the alert on `window`'s top-level window and returns it at once; the
// box deletes itself when it closes.
QMessageBox *show(QWidget *window, Kind kind, const Error &error);
QMessageBox *showCritical(QWidget *window, const QString &title, const QString &message);

} // namespace Alerts
