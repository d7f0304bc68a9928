#include "gui/ImportBackpackSheet.h"

#include "app/NotebookNames.h"
#include "foundation/Error.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 480;

} // namespace

ImportBackpackSheet::ImportBackpackSheet(QWidget *window) : QDialog(window), m_label(new QLabel), m_okButton(nullptr)
{
    setWindowTitle(localizedString("Import into Ravadido"));
    setWindowModality(Qt::WindowModal);

    m_label->setObjectName(QStringLiteral("explanation"));
    // The site name is the user's own text: shown as written, never as markup.
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    auto *buttons = new QDialogButtonBox;
    QPushButton *cancel = buttons->addButton(QDialogButtonBox::Cancel);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    m_okButton = buttons->addButton(localizedString("Import"), QDialogButtonBox::AcceptRole);
    m_okButton->setObjectName(QStringLiteral("importButton"));
    m_okButton->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { done(kImport); });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { done(kCancel); });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_label, 1);
    layout->addWidget(buttons);

    setFixedWidth(kWidth);
    // Every way of ending answers, Escape and the close button with kCancel.
    connect(this, &QDialog::finished, this, [this](int result) { emit importBackpackSheetDidEnd(this, result); });
}

void ImportBackpackSheet::beginImportBackpackSheet()
{
    updateLabel();
    updateSize();
    open();
    m_okButton->setFocus();
}

QString ImportBackpackSheet::labelText() const
{
    QString text = m_notesAreSelected
                       ? localizedString("Leafhaul will import the selected Backpack pages into Ravadido.")
                       : localizedString("Leafhaul will import all the Backpack pages into Ravadido.");
    text += QStringLiteral("\n\n");
    text += localizedString("Leafhaul will create a notebook for each page with the same name as the page.");
    text += localizedString(" Each note, list, etc. on the page will become a note in Ravadido and placed in the "
                            "new notebook.");
    text += QStringLiteral("\n\n");
    // One arg(): the stack name goes in as it is, a '%' in it included.
    text += localizedString("In addition, all the new notebooks will be placed in an Ravadido stack named %1.")
                .arg(NotebookNames::notebookStackName(m_accountName));
    return text;
}

void ImportBackpackSheet::updateLabel()
{
    m_label->setText(labelText());
}

void ImportBackpackSheet::updateSize()
{
    setFixedHeight(kHeight);
}
