#include "gui/ImportProgressSheet.h"

#include "app/RavadidoFromBackpackImporter.h"
#include "foundation/Error.h"
#include "foundation/SystemLog.h"
#include "gui/Alerts.h"
#include "gui/Spinner.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kWidth = 440;
constexpr int kDetailRowHeight = 18;
constexpr int kSpinnerSize = 16;
// Between the spinner and the detail line while data is transferred.
constexpr int kSpinnerGap = 5;
// The bar counts in steps this fine, so that fractional values still draw.
constexpr int kBarScale = 1000;

} // namespace

ImportProgressSheet::ImportProgressSheet(QWidget *window)
    : QDialog(window), m_importStatusLabel(new QLabel), m_importProgress(new QProgressBar),
      m_importDetailProgress(new Spinner(kSpinnerSize)), m_importDetailStatusLabel(new QLabel),
      m_stopButton(new QPushButton(localizedString("Stop")))
{
    setWindowTitle(localizedString("Importing into Ravadido"));
    setWindowModality(Qt::NonModal);

    // Page titles and detail texts are the service's: plain text only, and
    // a long one must not widen the sheet.
    for (QLabel *label : {m_importStatusLabel, m_importDetailStatusLabel}) {
        label->setTextFormat(Qt::PlainText);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    m_importStatusLabel->setObjectName(QStringLiteral("importStatusLabel"));
    m_importProgress->setObjectName(QStringLiteral("importProgress"));
    m_importProgress->setAccessibleName(localizedString("Import progress"));
    m_importProgress->setTextVisible(false);
    m_importDetailProgress->setObjectName(QStringLiteral("importDetailProgress"));
    m_importDetailStatusLabel->setObjectName(QStringLiteral("importDetailStatusLabel"));
    m_stopButton->setObjectName(QStringLiteral("stopButton"));
    m_stopButton->setAutoDefault(false);
    connect(m_stopButton, &QPushButton::clicked, this, &ImportProgressSheet::cancelImport);

    // The detail row is placed by hand: the line's left edge moves with the
    // spinner, which a layout would not allow.
    const int rowWidth = kWidth - 2 * 12;
    auto *detailRow = new QWidget;
    detailRow->setFixedSize(rowWidth, kDetailRowHeight);
    m_importDetailProgress->setParent(detailRow);
    m_importDetailProgress->move(0, (kDetailRowHeight - kSpinnerSize) / 2);
    m_importDetailStatusLabel->setParent(detailRow);
    m_importDetailStatusLabel->setGeometry(0, 0, rowWidth - kSpinnerSize - kSpinnerGap, kDetailRowHeight);
    m_importDetailStatusLabel->hide();

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_stopButton);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->addWidget(m_importStatusLabel);
    layout->addWidget(m_importProgress);
    layout->addWidget(detailRow);
    layout->addLayout(buttons);
    setFixedWidth(kWidth);
    setFixedHeight(sizeHint().height());
}

void ImportProgressSheet::beginImport(qsizetype pageCount)
{
    m_importStatusLabel->setText(localizedString("Starting import…"));
    m_stopButton->setEnabled(true);
    m_importDetailProgress->stopAnimation();
    m_importDetailStatusLabel->setText(QString());
    // Not open(): that would make it window-modal again.
    show();
    raise();
    activateWindow();
    // Qt frames the button with the keys only once the keyboard has moved
    // them in its window; Stop has them from the start, and Space stops.
    setAttribute(Qt::WA_KeyboardFocusChange);
    m_stopButton->setFocus();
    m_pageCount = pageCount;
    setProgress(0, double(pageCount));
}

void ImportProgressSheet::willImportPage(const QString &pageTitle)
{
    m_importStatusLabel->setText(localizedString("Importing %1…").arg(pageTitle));
}

void ImportProgressSheet::detailStatus(const QString &text, bool uploadingData)
{
    const int left = m_importDetailProgress->x() + (uploadingData ? m_importDetailProgress->width() + kSpinnerGap : 0);
    m_importDetailStatusLabel->move(left, m_importDetailStatusLabel->y());
    m_importDetailStatusLabel->setText(text);
    if (uploadingData)
        m_importDetailProgress->startAnimation();
    else
        m_importDetailProgress->stopAnimation();
    m_importDetailStatusLabel->show();
}

void ImportProgressSheet::didImportWidget(qsizetype widgetsOnPage)
{
    if (m_pageCount != 1)
        return;
    setProgress(m_value + 1, double(widgetsOnPage));
}

void ImportProgressSheet::didImportPage()
{
    setProgress(m_value + 1, m_maximum);
    m_importDetailStatusLabel->hide();
    m_importDetailProgress->stopAnimation();
}

void ImportProgressSheet::didFinish()
{
    setProgress(m_maximum, m_maximum);
    endSheet();
}

void ImportProgressSheet::didFailWithError(const Error &error)
{
    systemLog(QStringLiteral("Error importing pages: ") + error.localizedDescription);
    endSheet();
    if (isAuthenticationExpiredError(error))
        emit authenticationExpired();
    else
        Alerts::show(parentWidget(), Alerts::Kind::ImportFailed, error);
}

void ImportProgressSheet::wasCancelled()
{
    endSheet();
}

void ImportProgressSheet::cancelImport()
{
    m_importStatusLabel->setText(localizedString("Stopping Import. Please wait for the current operation to finish…"));
    m_stopButton->setEnabled(false);
    emit stopRequested();
}

void ImportProgressSheet::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (m_stopButton->isEnabled())
        cancelImport();
}

void ImportProgressSheet::setProgress(double value, double maximum)
{
    m_value = value;
    m_maximum = maximum;
    // A value past the maximum shows as a full bar.
    m_importProgress->setRange(0, std::max(1, int(maximum * kBarScale)));
    m_importProgress->setValue(int(std::min(value, maximum) * kBarScale));
}

void ImportProgressSheet::endSheet()
{
    m_importDetailProgress->stopAnimation();
    done(QDialog::Accepted);
}
