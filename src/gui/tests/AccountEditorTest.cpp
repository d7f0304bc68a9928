// The account editor: the list and form, add, undoable remove (of several
// records too), and the sorted list it stores whichever way it closes.

#include "SheetTestSupport.h"

#include "gui/AccountEditor.h"
#include "signin/SettingsKeys.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QUndoStack>

#include <functional>

namespace {

using namespace sheet_test;

QVariantMap account(const QString &site, const QString &user = QStringLiteral("u"))
{
    return {{QLatin1String(SettingsKeys::kSiteName), site},
            {QLatin1String(SettingsKeys::kUserName), user},
            {QLatin1String(SettingsKeys::kPassword), QStringLiteral("secret ") + site},
            {QLatin1String(SettingsKeys::kAPIKey), QStringLiteral("key-") + site}};
}

QStringList siteNames(const QList<QVariantMap> &accounts)
{
    QStringList names;
    for (const QVariantMap &a : accounts)
        names << a.value(QLatin1String(SettingsKeys::kSiteName)).toString();
    return names;
}

void clickDone(AccountEditor *editor)
{
    editor->findChild<QPushButton *>(QStringLiteral("doneButton"))->click();
}

class AccountEditorTest : public SheetTest
{
protected:
    // Opens an editor on the stored accounts, as the application does.
    void open(const QList<QVariantMap> &stored)
    {
        ASSERT_TRUE(AccountStore::setAccounts(stored));
        editor = new AccountEditor(&window);
        QObject::connect(editor, &AccountEditor::accountEditorDidEnd, &window, [this](AccountEditor *) {
            ++ended;
            storedWhenEnded = AccountStore::accounts();
        });
        editor->beginAccountEditorSheet();
        settle();
        table = editor->findChild<QTableView *>(QStringLiteral("accountsTable"));
        ASSERT_TRUE(table);
        fields.clear();
        for (const char *key : {SettingsKeys::kSiteName, SettingsKeys::kUserName, SettingsKeys::kPassword,
                                SettingsKeys::kAPIKey})
            fields << editor->findChild<QLineEdit *>(QLatin1String(key));
        ASSERT_EQ(fields.size(), 4);
        removeButton = editor->findChild<QPushButton *>(QStringLiteral("removeButton"));
        ASSERT_TRUE(removeButton);
    }

    QStringList shownNames() const
    {
        QStringList names;
        for (int row = 0; row < table->model()->rowCount(); ++row)
            names << table->model()->index(row, 0).data().toString();
        return names;
    }

    void selectRows(std::initializer_list<int> rows)
    {
        table->selectionModel()->clearSelection();
        for (int row : rows)
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    void closeWithDone() { clickDone(editor); }

    QPointer<AccountEditor> editor;
    QTableView *table = nullptr;
    QList<QLineEdit *> fields;
    QPushButton *removeButton = nullptr;
    int ended = 0;
    QList<QVariantMap> storedWhenEnded;
};

TEST_F(AccountEditorTest, ListsTheStoredAccountsAndShowsTheSelectedOneInTheForm)
{
    open({account(QStringLiteral("beta")), account(QStringLiteral("Alpha")), account(QStringLiteral("alpha"))});
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->windowModality(), Qt::WindowModal);
    EXPECT_EQ(editor->parentWidget(), &window);
    EXPECT_EQ(shownNames(), (QStringList{QStringLiteral("Alpha"), QStringLiteral("alpha"), QStringLiteral("beta")}));

    // Nothing selected: no form, nothing to remove.
    for (QLineEdit *field : fields) {
        EXPECT_FALSE(field->isEnabled());
        EXPECT_FALSE(field->accessibleName().isEmpty());
    }
    EXPECT_FALSE(removeButton->isEnabled());
    EXPECT_EQ(fields[2]->echoMode(), QLineEdit::Password);

    selectRows({2});
    EXPECT_TRUE(removeButton->isEnabled());
    QStringList shown;
    for (QLineEdit *field : fields) {
        EXPECT_TRUE(field->isEnabled());
        shown << field->text();
    }
    EXPECT_EQ(shown, (QStringList{QStringLiteral("beta"), QStringLiteral("u"), QStringLiteral("secret beta"),
                                  QStringLiteral("key-beta")}));
    saveScreenshot(editor, QStringLiteral("account-editor"));

    // Several selected records have no one form.
    selectRows({0, 1});
    EXPECT_FALSE(fields[0]->isEnabled());
    EXPECT_TRUE(fields[0]->text().isEmpty());
    EXPECT_TRUE(removeButton->isEnabled());
}

TEST_F(AccountEditorTest, AnEditChangesTheRecordAndTheListResortsWhenTheEditEnds)
{
    open({account(QStringLiteral("kilo")), account(QStringLiteral("mike"))});
    selectRows({1});
    fields[0]->setFocus();
    fields[0]->selectAll();
    type(fields[0], QStringLiteral("alpha"));
    type(fields[1], QStringLiteral("2"));
    EXPECT_EQ(shownNames(), (QStringList{QStringLiteral("kilo"), QStringLiteral("alpha")}))
        << "the list stays put while the user types";
    fields[0]->setFocus();
    press(fields[0], Qt::Key_Tab);
    EXPECT_EQ(editor->focusWidget(), fields[1]);  // the window itself may not be active under load
    EXPECT_EQ(shownNames(), (QStringList{QStringLiteral("alpha"), QStringLiteral("kilo")}));
    EXPECT_EQ(fields[0]->text(), QStringLiteral("alpha")) << "the edited record stays selected";

    EXPECT_TRUE(editor->isVisible());
    closeWithDone();
    settle();
    EXPECT_EQ(ended, 1);
    QVariantMap edited = account(QStringLiteral("alpha"), QStringLiteral("u2"));
    edited.insert(QLatin1String(SettingsKeys::kPassword), QStringLiteral("secret mike"));
    edited.insert(QLatin1String(SettingsKeys::kAPIKey), QStringLiteral("key-mike"));
    EXPECT_EQ(AccountStore::accounts(), (QList<QVariantMap>{edited, account(QStringLiteral("kilo"))}));
}

TEST_F(AccountEditorTest, EveryWayOfClosingStoresTheListSortedBeforeTellingTheDelegate)
{
    struct Case
    {
        const char *name;
        QStringList stored;
        std::function<void(AccountEditor *)> close;
        QStringList saved;
    };
    const Case cases[] = {
        {"Done, capitals before small letters", {"beta", "Alpha", "alpha"}, clickDone, {"Alpha", "alpha", "beta"}},
        {"Escape", {"banana", "Cherry"}, [](AccountEditor *e) { press(e, Qt::Key_Escape); }, {"Cherry", "banana"}},
        {"window closed", {"b", "a"}, [](AccountEditor *e) { e->close(); }, {"a", "b"}},
        {"nothing stored", {}, clickDone, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QList<QVariantMap> stored;
        for (const QString &name : c.stored)
            stored << account(name);
        ended = 0;
        open(stored);
        c.close(editor);
        settle();
        EXPECT_EQ(ended, 1);
        EXPECT_EQ(siteNames(storedWhenEnded), c.saved);
        EXPECT_EQ(siteNames(AccountStore::accounts()), c.saved);
        EXPECT_TRUE(editor.isNull()) << "one editor per opening";
    }
}

TEST_F(AccountEditorTest, AddedRecordsHoldOnlyTheUnnamedSiteName)
{
    open({});
    editor->addNewAccount();
    EXPECT_EQ(editor->focusWidget(), fields[0]);  // the window itself may not be active under load
    EXPECT_EQ(fields[0]->text(), QStringLiteral("unnamed"));
    editor->findChild<QPushButton *>(QStringLiteral("addButton"))->click();
    EXPECT_FALSE(editor->undoStack()->canUndo()) << "adding is not undoable";
    closeWithDone();
    settle();
    const QVariantMap unnamed{{QLatin1String(SettingsKeys::kSiteName), QStringLiteral("unnamed")}};
    EXPECT_EQ(AccountStore::accounts(), (QList<QVariantMap>{unnamed, unnamed}));
}

TEST_F(AccountEditorTest, UndoOfARemovalBringsBackEveryRemovedRecordAndRedoRemovesThemAgain)
{
    const QList<QVariantMap> stored{account(QStringLiteral("a")), account(QStringLiteral("b")),
                                    account(QStringLiteral("c")), account(QStringLiteral("d"))};
    open(stored);
    removeButton->click();
    EXPECT_FALSE(editor->undoStack()->canUndo()) << "nothing selected, nothing removed";

    selectRows({0, 2, 3});
    removeButton->click();
    EXPECT_EQ(shownNames(), QStringList{QStringLiteral("b")});
    EXPECT_FALSE(removeButton->isEnabled());
    EXPECT_FALSE(fields[0]->isEnabled());
    EXPECT_EQ(editor->undoStack()->undoText(), QStringLiteral("Remove Account"));

    editor->undoStack()->undo();
    EXPECT_EQ(editor->accounts(), stored) << "every record back, values and order included";
    EXPECT_EQ(shownNames(), (QStringList{"a", "b", "c", "d"}));

    ASSERT_TRUE(editor->undoStack()->canRedo());
    editor->undoStack()->redo();
    EXPECT_EQ(editor->accounts(), QList<QVariantMap>{account(QStringLiteral("b"))});
    editor->undoStack()->undo();

    // The sheet's own Undo command acts on the editor's stack.
    selectRows({1});
    removeButton->click();
    QAction *undo = nullptr;
    for (QAction *action : editor->actions())
        if (action->shortcut() == QKeySequence(QKeySequence::Undo))
            undo = action;
    ASSERT_TRUE(undo);
    EXPECT_EQ(undo->text(), QStringLiteral("Undo Remove Account"));
    undo->trigger();
    EXPECT_EQ(editor->accounts(), stored);

    closeWithDone();
    settle();
    EXPECT_EQ(AccountStore::accounts(), stored);
}

}  // namespace
