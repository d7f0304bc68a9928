#pragma once

#include <QDialog>
#include <QList>
#include <QVariantMap>

class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QUndoStack;

namespace account_editor_detail {
class AccountListModel;
}

// The sheet in which the user keeps the Backpack accounts: a list of the
// stored records with a form for the selected one, add, and an undoable
// remove. It reads "Accounts" when it is made and writes the whole list back,
// sorted by site name, whichever way the sheet closes; it neither checks nor
// completes records. Removals can be undone, not redone; additions and edits
// are not on the undo stack. One editor per opening: it deletes itself once
// it has told its delegate.
class AccountEditor : public QDialog
{
    Q_OBJECT
public:
    explicit AccountEditor(QWidget *window);
    ~AccountEditor() override;

    // Opens the sheet, window-modal on the parent window.
    void beginAccountEditorSheet();
    // Selects the first record named `siteName` (the account the main
    // window's picker shows), or the list's first when none is; the editor
    // opens with its first record selected.
    void selectAccount(const QString &siteName);

    // A record holding only "sitename" = "unnamed", selected for editing.
    void addNewAccount();
    // Removes every selected record as one undoable step ("Remove Account");
    // nothing when none is selected. After it, and after its undo, the record
    // the keys are on is the selected one.
    void removeSelectedAccount();

    QUndoStack *undoStack() const { return m_undoStack; }
    // The records as they stand, in list (not display) order.
    QList<QVariantMap> accounts() const;

    // Sorted by "sitename" in plain character order (every capital before
    // every small letter), equal names in their given order: the order in
    // which the list is stored.
    static QList<QVariantMap> accountsSortedForSaving(QList<QVariantMap> accounts);

signals:
    // Sent once, after the sheet has closed and the list has been stored.
    void accountEditorDidEnd(AccountEditor *editor);

private:
    void didEndSheet();
    void showSelectedAccount();
    void selectCurrentAccount();
    void rearrange();

    account_editor_detail::AccountListModel *m_model;
    QSortFilterProxyModel *m_sorted;
    QTableView *m_accountsTableView;
    QWidget *m_formView;
    QList<QLineEdit *> m_fields;
    QPushButton *m_removeButton;
    QUndoStack *m_undoStack;
};
