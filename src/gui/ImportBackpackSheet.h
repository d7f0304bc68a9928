#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

// Asks the user to confirm an import before the sign-in and the import
// start: which pages, one notebook per page, one note per element, and the
// stack that receives the notebooks. Made once and shown again for every
// import; set the account name and the marked-pages flag before each showing.
class ImportBackpackSheet : public QDialog
{
    Q_OBJECT
public:
    // Results: the confirming button ends the sheet with kImport, every other
    // way of closing it with kCancel.
    static constexpr int kCancel = 0;
    static constexpr int kImport = 1;
    static constexpr int kHeight = 375;

    explicit ImportBackpackSheet(QWidget *window);

    bool notesAreSelected() const { return m_notesAreSelected; }
    void setNotesAreSelected(bool selected) { m_notesAreSelected = selected; }
    // The account's site name.
    QString accountName() const { return m_accountName; }
    void setAccountName(const QString &name) { m_accountName = name; }

    // Renews the text and the height, then opens the sheet window-modal on
    // the parent window.
    void beginImportBackpackSheet();

    // The text for the flag and account name as they stand: three
    // paragraphs, the last naming the stack as the importer will make it.
    QString labelText() const;

signals:
    // Once per showing, after the sheet has been hidden.
    void importBackpackSheetDidEnd(ImportBackpackSheet *sheet, int result);

private:
    void updateLabel();
    void updateSize();

    QLabel *m_label;
    QPushButton *m_okButton;
    bool m_notesAreSelected = false;
    QString m_accountName;
};
