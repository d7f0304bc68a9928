#include "gui/AccountEditor.h"

#include "foundation/Error.h"
#include "foundation/SystemLog.h"
#include "gui/AccountStore.h"
#include "gui/Alerts.h"
#include "signin/SettingsKeys.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QUndoCommand>
#include <QUndoStack>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The form, one row per record value.
struct FormField
{
    const char *key;
    const char *label;
    const char *accessibleName;
    bool secret;
};

constexpr FormField kFormFields[] = {
    {SettingsKeys::kSiteName, "Site name:", "Backpack site name", false},
    {SettingsKeys::kUserName, "User name:", "Backpack user name", false},
    {SettingsKeys::kPassword, "Password:", "Backpack password", true},
    {SettingsKeys::kAPIKey, "API key:", "Backpack API key", false},
};

} // namespace

namespace account_editor_detail {

// The records being edited, each with an identity that survives edits, so
// that a removal takes the very records that were selected.
class AccountListModel : public QAbstractTableModel
{
public:
    struct Account
    {
        quint64 id;
        QVariantMap values;
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : m_accounts.size(); }
    int columnCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : 1; }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
            return {};
        return m_accounts.at(index.row()).values.value(QLatin1String(SettingsKeys::kSiteName)).toString();
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section == 0)
            return localizedString("Backpack Site");
        return {};
    }

    const Account &at(int row) const { return m_accounts.at(row); }
    const QList<Account> &accounts() const { return m_accounts; }

    quint64 append(const QVariantMap &values)
    {
        const Account account{m_nextId++, values};
        insert(m_accounts.size(), account);
        return account.id;
    }

    void insert(int row, const Account &account)
    {
        beginInsertRows({}, row, row);
        m_accounts.insert(row, account);
        endInsertRows();
    }

    Account takeAt(int row)
    {
        beginRemoveRows({}, row, row);
        Account account = m_accounts.takeAt(row);
        endRemoveRows();
        return account;
    }

    int rowOf(quint64 id) const
    {
        for (int row = 0; row < m_accounts.size(); ++row)
            if (m_accounts.at(row).id == id)
                return row;
        return -1;
    }

    void setValue(int row, const QString &key, const QString &value)
    {
        m_accounts[row].values.insert(key, value);
        emit dataChanged(index(row, 0), index(row, 0));
    }

private:
    QList<Account> m_accounts;
    quint64 m_nextId = 1;
};

} // namespace account_editor_detail

namespace {

using account_editor_detail::AccountListModel;

// Takes out every record it names; undo puts each back where it stood.
class RemoveAccountsCommand : public QUndoCommand
{
public:
    RemoveAccountsCommand(AccountListModel *model, QList<quint64> ids)
        : QUndoCommand(localizedString("Remove Account")), m_model(model), m_ids(std::move(ids))
    {
    }

    void redo() override
    {
        QList<int> rows;
        for (quint64 id : m_ids)
            if (const int row = m_model->rowOf(id); row >= 0)
                rows << row;
        std::sort(rows.begin(), rows.end());
        m_removed.clear();
        for (qsizetype i = rows.size() - 1; i >= 0; --i)
            m_removed.prepend({rows[i], m_model->takeAt(rows[i])});
    }

    void undo() override
    {
        // Ascending rows: each record goes back in front of the ones that
        // followed it.
        for (const auto &[row, account] : m_removed)
            m_model->insert(row, account);
        // Undone is gone: the stack drops it, so there is nothing to redo.
        setObsolete(true);
    }

private:
    AccountListModel *m_model;
    QList<quint64> m_ids;
    QList<std::pair<int, AccountListModel::Account>> m_removed;
};

} // namespace

AccountEditor::AccountEditor(QWidget *window)
    : QDialog(window), m_model(new AccountListModel(this)), m_sorted(new QSortFilterProxyModel(this)),
      m_accountsTableView(new QTableView), m_formView(new QWidget),
      m_removeButton(new QPushButton(QStringLiteral("\u2212"))), m_undoStack(new QUndoStack(this))
{
    setWindowTitle(localizedString("Backpack Accounts"));
    setWindowModality(Qt::WindowModal);

    for (const QVariantMap &record : AccountStore::accounts())
        m_model->append(record);

    // Plain, case-sensitive order, re-arranged when an edit ends rather than
    // under the user's typing.
    m_sorted->setSourceModel(m_model);
    m_sorted->setSortCaseSensitivity(Qt::CaseSensitive);
    m_sorted->setSortLocaleAware(false);
    m_sorted->setDynamicSortFilter(false);
    m_sorted->sort(0);

    m_accountsTableView->setObjectName(QStringLiteral("accountsTable"));
    m_accountsTableView->setAccessibleName(localizedString("Backpack accounts"));
    m_accountsTableView->setModel(m_sorted);
    m_accountsTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_accountsTableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_accountsTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_accountsTableView->verticalHeader()->hide();
    m_accountsTableView->horizontalHeader()->setStretchLastSection(true);
    m_accountsTableView->setMinimumWidth(180);
    // Tab leaves the list for the buttons and the form; the arrows move
    // between records.
    m_accountsTableView->setTabKeyNavigation(false);

    auto *addButton = new QPushButton(QStringLiteral("+"));
    addButton->setObjectName(QStringLiteral("addButton"));
    addButton->setAccessibleName(localizedString("Add Account"));
    addButton->setAutoDefault(false);
    m_removeButton->setObjectName(QStringLiteral("removeButton"));
    m_removeButton->setAccessibleName(localizedString("Remove Account"));
    m_removeButton->setAutoDefault(false);
    connect(addButton, &QPushButton::clicked, this, &AccountEditor::addNewAccount);
    connect(m_removeButton, &QPushButton::clicked, this, &AccountEditor::removeSelectedAccount);

    auto *form = new QFormLayout(m_formView);
    for (const FormField &field : kFormFields) {
        auto *edit = new QLineEdit;
        edit->setObjectName(QLatin1String(field.key));
        edit->setAccessibleName(localizedString(field.accessibleName));
        if (field.secret)
            edit->setEchoMode(QLineEdit::Password);
        const QString key = QLatin1String(field.key);
        connect(edit, &QLineEdit::textEdited, this, [this, key](const QString &text) {
            const QModelIndexList rows = m_accountsTableView->selectionModel()->selectedRows();
            if (rows.size() == 1)
                m_model->setValue(m_sorted->mapToSource(rows.first()).row(), key, text);
        });
        connect(edit, &QLineEdit::editingFinished, this, &AccountEditor::rearrange);
        form->addRow(localizedString(field.label), edit);
        m_fields << edit;
    }

    auto *listButtons = new QHBoxLayout;
    listButtons->addWidget(addButton);
    listButtons->addWidget(m_removeButton);
    listButtons->addStretch();
    auto *list = new QVBoxLayout;
    list->addWidget(m_accountsTableView);
    list->addLayout(listButtons);

    auto *body = new QHBoxLayout;
    body->addLayout(list);
    body->addWidget(m_formView, 1, Qt::AlignTop);

    auto *buttons = new QDialogButtonBox;
    QPushButton *done = buttons->addButton(localizedString("Done"), QDialogButtonBox::AcceptRole);
    done->setObjectName(QStringLiteral("doneButton"));
    // Default for good: an auto-default button hands the default on as
    // focus passes over it, and Return would then close nothing.
    done->setAutoDefault(false);
    done->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(body);
    layout->addWidget(buttons);

    // The sheet's undo acts on the editor's own stack.
    QAction *undo = m_undoStack->createUndoAction(this, localizedString("Undo"));
    undo->setShortcut(QKeySequence::Undo);
    addAction(undo);
    // Delete in the list is "−"; in a field it stays the field's own key.
    // Not BackSpace: on this desktop it removes text, never a record.
    auto *remove = new QAction(localizedString("Remove Account"), m_accountsTableView);
    remove->setShortcut(QKeySequence::Delete);
    remove->setShortcutContext(Qt::WidgetShortcut);
    connect(remove, &QAction::triggered, this, &AccountEditor::removeSelectedAccount);
    m_accountsTableView->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_accountsTableView->addAction(undo);
    m_accountsTableView->addAction(remove);
    connect(m_undoStack, &QUndoStack::indexChanged, this, &AccountEditor::rearrange);
    connect(m_undoStack, &QUndoStack::indexChanged, this, &AccountEditor::selectCurrentAccount);

    connect(m_accountsTableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &AccountEditor::showSelectedAccount);
    connect(this, &QDialog::finished, this, &AccountEditor::didEndSheet);
    selectAccount(QString());
    resize(560, 300);
}

AccountEditor::~AccountEditor()
{
    // Clearing the stack announces a new index; the list must still be there.
    delete m_undoStack;
}

void AccountEditor::beginAccountEditorSheet()
{
    open();
    m_accountsTableView->setFocus();
}

void AccountEditor::selectAccount(const QString &siteName)
{
    // The first in stored order, as the picker takes it.
    int row = -1;
    for (int i = 0; i < m_model->rowCount() && row < 0 && !siteName.isEmpty(); ++i)
        if (m_model->at(i).values.value(QLatin1String(SettingsKeys::kSiteName)).toString() == siteName)
            row = i;
    const QModelIndex index = row >= 0 ? m_sorted->mapFromSource(m_model->index(row, 0)) : m_sorted->index(0, 0);
    if (index.isValid())
        m_accountsTableView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect
                                                                          | QItemSelectionModel::Rows);
    showSelectedAccount();
}

void AccountEditor::addNewAccount()
{
    const quint64 id = m_model->append({{QLatin1String(SettingsKeys::kSiteName), localizedString("unnamed")}});
    rearrange();
    const QModelIndex added = m_sorted->mapFromSource(m_model->index(m_model->rowOf(id), 0));
    m_accountsTableView->selectionModel()->select(added,
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    m_accountsTableView->setCurrentIndex(added);
    m_fields.first()->setFocus();
    m_fields.first()->selectAll();
}

void AccountEditor::removeSelectedAccount()
{
    QList<quint64> ids;
    for (const QModelIndex &row : m_accountsTableView->selectionModel()->selectedRows())
        ids << m_model->at(m_sorted->mapToSource(row).row()).id;
    if (ids.isEmpty())
        return;
    m_undoStack->push(new RemoveAccountsCommand(m_model, std::move(ids)));
}

QList<QVariantMap> AccountEditor::accounts() const
{
    QList<QVariantMap> records;
    for (const AccountListModel::Account &account : m_model->accounts())
        records << account.values;
    return records;
}

QList<QVariantMap> AccountEditor::accountsSortedForSaving(QList<QVariantMap> accounts)
{
    const QString key = QLatin1String(SettingsKeys::kSiteName);
    std::stable_sort(accounts.begin(), accounts.end(), [&key](const QVariantMap &a, const QVariantMap &b) {
        return QString::compare(a.value(key).toString(), b.value(key).toString(), Qt::CaseSensitive) < 0;
    });
    return accounts;
}

void AccountEditor::didEndSheet()
{
    disconnect(this, &QDialog::finished, this, &AccountEditor::didEndSheet);
    QString error;
    if (!AccountStore::setAccounts(accountsSortedForSaving(accounts()), &error)) {
        systemLog(QStringLiteral("Could not save the Backpack accounts: ") + error);
        Alerts::show(parentWidget(), Alerts::Kind::AccountsNotSaved, Error(QString(), 0, error));
    }
    emit accountEditorDidEnd(this);
    deleteLater();
}

void AccountEditor::showSelectedAccount()
{
    const QModelIndexList rows = m_accountsTableView->selectionModel()->selectedRows();
    m_removeButton->setEnabled(!rows.isEmpty());
    // Several selected records have no one form to show.
    const bool one = rows.size() == 1;
    m_formView->setEnabled(one);
    const QVariantMap values = one ? m_model->at(m_sorted->mapToSource(rows.first()).row()).values : QVariantMap();
    for (qsizetype i = 0; i < m_fields.size(); ++i)
        m_fields[i]->setText(values.value(QLatin1String(kFormFields[i].key)).toString());
}

// A removal takes the selection with it and leaves the keys on a neighbour;
// an undo after every record went leaves them nowhere. Either way the form
// would stay grey until an arrow key is pressed.
void AccountEditor::selectCurrentAccount()
{
    if (m_accountsTableView->selectionModel()->hasSelection())
        return;
    QModelIndex index = m_accountsTableView->currentIndex();
    if (!index.isValid())
        index = m_sorted->index(0, 0);
    if (index.isValid())
        m_accountsTableView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect
                                                                          | QItemSelectionModel::Rows);
}

void AccountEditor::rearrange()
{
    m_sorted->sort(0);
}
