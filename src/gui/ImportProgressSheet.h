#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class Spinner;
struct Error;

// The sheet that shows a running import: the status line, a bar counting
// pages (or, in a one-page import, the page's elements), the detail line
// with its spinner, and Stop. It turns each importer event into what the
// user sees; whoever owns the importer calls the event methods, in the
// order the importer reports, and cancels the importer on stopRequested().
// The sheet stays open until the import has ended. It does not block the
// parent window, so that the window can still be closed (its owner keeps
// the window's controls disabled meanwhile).
class ImportProgressSheet : public QDialog
{
    Q_OBJECT
public:
    explicit ImportProgressSheet(QWidget *window);

    // Opens the sheet on the parent window for an import of
    // `pageCount` pages: "Starting import…", Stop enabled, the detail line
    // emptied and its spinner stopped, the bar at 0 of `pageCount`.
    void beginImport(qsizetype pageCount);

    // Importer events.
    void willImportPage(const QString &pageTitle);
    // The detail line moves right of the spinner while data is transferred.
    void detailStatus(const QString &text, bool uploadingData);
    // Counts only in a one-page import: the bar then counts the page's
    // elements, all of them (`widgetsOnPage`), including those not imported.
    void didImportWidget(qsizetype widgetsOnPage);
    void didImportPage();
    void didFinish();
    // Logs the error and closes; an expired token only asks for a new
    // sign-in (authenticationExpired), any other error is shown in an alert
    // on the parent window.
    void didFailWithError(const Error &error);
    void wasCancelled();

    // Stop: says so at once, disables Stop until the next start, and asks for
    // the cancel; the sheet closes when the importer reports it.
    void cancelImport();

    // The count as the import keeps it; in a one-page import the value may
    // pass the maximum by one, and the bar then simply shows full.
    double progressValue() const { return m_value; }
    double progressMaximum() const { return m_maximum; }

signals:
    void stopRequested();
    void authenticationExpired();

protected:
    // Escape does not end a running import; Stop does, and so does the
    // window's close button, which then waits like Stop for the end.
    void reject() override {}
    void closeEvent(QCloseEvent *event) override;

private:
    void setProgress(double value, double maximum);
    void endSheet();

    QLabel *m_importStatusLabel;
    QProgressBar *m_importProgress;
    Spinner *m_importDetailProgress;
    QLabel *m_importDetailStatusLabel;
    QPushButton *m_stopButton;
    qsizetype m_pageCount = 0;
    double m_value = 0;
    double m_maximum = 0;
};
