// The account editor: the list and form, add, undoable remove (of several
// records too), and the sorted list it stores whichever way it closes.

#include "GuiTestSupport.h"

#include "gui/AccountEditor.h"

#include <QAccessible>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QUndoStack>

#include <functional>

namespace {

using namespace gui_test;

QList<QVariantMap> accounts(const QStringList &names)
{
    QList<QVariantMap> records;
    for (const QString &name : names)
        records << accountRecord(name, QStringLiteral("user ") + name);
    return records;
}

class AccountEditorTest : public SheetTest
{
protected:
    // Opens an editor on the stored accounts, as the application does.
    void open(const QList<QVariantMap> &stored)
    {
        ASSERT_TRUE(AccountStore::setAccounts(stored));
        editor = new AccountEditor(&window);
        QObject::connect(editor, &AccountEditor::accountEditorDidEnd, &window,
                         [this](AccountEditor *) { storedWhenEnded << AccountStore::accounts(); });
        editor->beginAccountEditorSheet();
        // An edit ends when the focus leaves its field, which needs the sheet active.
        ASSERT_TRUE(waitFor([&] { return editor->isActiveWindow(); }));
        table = editor->findChild<QTableView *>(QStringLiteral("accountsTable"));
        fields.clear();
        for (const char *key :
             {SettingsKeys::kSiteName, SettingsKeys::kUserName, SettingsKeys::kPassword, SettingsKeys::kAPIKey})
            fields << editor->findChild<QLineEdit *>(QLatin1String(key));
        removeButton = editor->findChild<QPushButton *>(QStringLiteral("removeButton"));
        ASSERT_TRUE(table && removeButton && !fields.contains(nullptr));
    }

    QStringList shown() const { return columnTexts(table->model(), 0); }

    void selectRows(std::initializer_list<int> rows)
    {
        table->selectionModel()->clearSelection();
        for (int row : rows)
            table->selectionModel()->select(table->model()->index(row, 0),
                                            QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    static void clickDone(AccountEditor *editor) { editor->findChild<QPushButton *>("doneButton")->click(); }

    QPointer<AccountEditor> editor;
    QTableView *table = nullptr;
    QList<QLineEdit *> fields;
    QPushButton *removeButton = nullptr;
    QList<QList<QVariantMap>> storedWhenEnded;
};

TEST_F(AccountEditorTest, TheFormShowsOneSelectedRecordAndAnEditResortsWhenItEnds)
{
    open(accounts({"mike", "Alpha", "kilo"}));
    EXPECT_EQ(editor->windowModality(), Qt::WindowModal);
    EXPECT_EQ(shown(), (QStringList{"Alpha", "kilo", "mike"}));
    EXPECT_EQ(fields[0]->text(), QStringLiteral("Alpha")) << "opens on the first record";
    EXPECT_TRUE(fields[0]->isEnabled());
    EXPECT_EQ(table->currentIndex().row(), 0) << "the arrow keys start elsewhere";
    EXPECT_EQ(fields[2]->echoMode(), QLineEdit::Password);
    QStringList names;
    for (QLineEdit *field : fields)
        names << QAccessible::queryAccessibleInterface(field)->text(QAccessible::Name);
    EXPECT_EQ(names,
              (QStringList{"Backpack site name", "Backpack user name", "Backpack password", "Backpack API key"}));
    table->selectionModel()->clearSelection();
    EXPECT_FALSE(fields[0]->isEnabled()) << "nothing selected, no form";
    EXPECT_FALSE(removeButton->isEnabled());

    selectRows({2});
    QStringList values;
    for (QLineEdit *field : fields)
        values << field->text();
    EXPECT_EQ(values, (QStringList{"mike", "user mike", kPassword, kToken}));
    EXPECT_TRUE(removeButton->isEnabled());
    saveScreenshot(editor, QStringLiteral("account-editor"), 50);

    // Typed as a person would; the list stays put until the edit ends.
    fields[0]->setFocus();
    fields[0]->selectAll();
    type(fields[0], QStringLiteral("bravo"));
    EXPECT_EQ(shown(), (QStringList{"Alpha", "kilo", "bravo"}));
    press(fields[0], Qt::Key_Tab);
    EXPECT_EQ(shown(), (QStringList{"Alpha", "bravo", "kilo"}));
    EXPECT_EQ(fields[1]->text(), QStringLiteral("user mike")) << "the edited record stays selected";

    selectRows({0, 1});
    EXPECT_FALSE(fields[0]->isEnabled()) << "several selected records have no one form";
    clickDone(editor);
    settle(50);
    QVariantMap edited = accountRecord(QStringLiteral("bravo"), QStringLiteral("user mike"));
    EXPECT_EQ(AccountStore::accounts(), (QList<QVariantMap>{accounts({"Alpha"})[0], edited, accounts({"kilo"})[0]}));
}

TEST_F(AccountEditorTest, EveryWayOfClosingStoresTheListSortedBeforeTellingTheDelegate)
{
    const QVariantMap unnamed{{QLatin1String(SettingsKeys::kSiteName), QStringLiteral("unnamed")}};
    const struct
    {
        const char *name;
        QStringList stored;
        std::function<void(AccountEditor *)> close;
        QList<QVariantMap> saved;
    } cases[] = {
        // Plain character order: every capital before every small letter.
        {"Done", {"beta", "Alpha", "alpha"}, clickDone, accounts({"Alpha", "alpha", "beta"})},
        {"Escape",
         {"banana", "Cherry"},
         [](AccountEditor *e) { press(e, Qt::Key_Escape); },
         accounts({"Cherry", "banana"})},
        {"window closed", {}, [](AccountEditor *e) { e->close(); }, {}},
        // Return, also after Tab has passed over Done.
        {"Return after Tab",
         {"kilo"},
         [](AccountEditor *e) {
             e->findChild<QPushButton *>("doneButton")->setFocus();
             for (int key : {Qt::Key_Tab, Qt::Key_Return})
                 QTest::keyClick(e->focusWidget(), Qt::Key(key));
         },
         accounts({"kilo"})},
        // Added records hold only the site name, and adding is not undoable.
        {"two added",
         {},
         [](AccountEditor *e) {
             e->addNewAccount();
             e->findChild<QPushButton *>("addButton")->click();
             EXPECT_FALSE(e->undoStack()->canUndo());
             clickDone(e);
         },
         {unnamed, unnamed}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        storedWhenEnded.clear();
        open(accounts(c.stored));
        c.close(editor);
        settle(50);
        EXPECT_EQ(storedWhenEnded, QList<QList<QVariantMap>>{c.saved});
        EXPECT_TRUE(editor.isNull()) << "one editor per opening";
    }
}

TEST_F(AccountEditorTest, UndoOfARemovalBringsBackEveryRemovedRecordAndOffersNoRedo)
{
    const QList<QVariantMap> stored = accounts({"a", "b", "c", "d"});
    open(stored);
    table->selectionModel()->clearSelection();
    removeButton->click();
    EXPECT_FALSE(editor->undoStack()->canUndo()) << "nothing selected, nothing removed";

    selectRows({0, 2, 3});
    removeButton->click();
    EXPECT_EQ(shown(), QStringList{"b"});
    EXPECT_TRUE(removeButton->isEnabled()) << "the record left is not selected";
    EXPECT_EQ(editor->undoStack()->undoText(), QStringLiteral("Remove Account"));

    editor->undoStack()->undo();
    EXPECT_EQ(editor->accounts(), stored) << "every record back, values and order included";
    EXPECT_FALSE(editor->undoStack()->canRedo()) << "a redo is offered";

    // Delete in a field is the field's: a character goes, the record stays.
    // In the list it is "−", undoable too.
    selectRows({1});
    fields[1]->setFocus();
    fields[1]->home(false);
    QTest::keyClick(fields[1], Qt::Key_Delete);
    EXPECT_EQ(fields[1]->text(), QStringLiteral("ser b"));
    EXPECT_EQ(shown(), (QStringList{"a", "b", "c", "d"}));
    QList<QVariantMap> edited = stored;
    edited[1].insert(QLatin1String(SettingsKeys::kUserName), QStringLiteral("ser b"));
    EXPECT_EQ(editor->accounts(), edited);
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Delete);
    EXPECT_EQ(shown(), (QStringList{"a", "c", "d"}));
    EXPECT_EQ(fields[0]->text(), QStringLiteral("a")) << "the record the keys went to is not selected";
    QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(editor->accounts(), edited);
    EXPECT_EQ(fields[0]->text(), QStringLiteral("a"));
    table->selectAll();
    QTest::keyClick(table, Qt::Key_Delete);
    QTest::keyClick(table, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(fields[0]->text(), QStringLiteral("a"));

    clickDone(editor);
    settle(50);
    EXPECT_EQ(AccountStore::accounts(), edited);
}

// With several records Tab still leaves the list: round the sheet from the
// list and back, and Shift+Tab undoes each step. Delete is "−" in the list
// only: on a button it removes nothing; BackSpace removes nothing at all.
TEST_F(AccountEditorTest, TabLeavesTheListAndDeleteRemovesOnlyInIt)
{
    const QStringList all{"a", "b", "c"};
    open(accounts(all));
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Backspace);
    EXPECT_EQ(shown(), all) << "BackSpace in the list";
    QList<QWidget *> round{table};
    for (int i = 0; i < 12; ++i) {
        QTest::keyClick(editor->focusWidget(), Qt::Key_Tab);
        if (editor->focusWidget() == table)
            break;
        round << editor->focusWidget();
        if (!qobject_cast<QLineEdit *>(round.last())) {
            QTest::keyClick(round.last(), Qt::Key_Delete);
            EXPECT_EQ(shown(), all) << "Delete on " << round.last()->objectName().toStdString();
        }
    }
    EXPECT_EQ(editor->focusWidget(), table) << "Tab goes round the sheet";
    QStringList names;
    for (QWidget *widget : round)
        names << widget->objectName();
    EXPECT_EQ(names, (QStringList{"accountsTable", "addButton", "removeButton", "sitename", "username", "password",
                                  "APIKey", "doneButton"}));
    for (qsizetype i = round.size() - 1; i >= 0; --i) {
        QTest::keyClick(editor->focusWidget(), Qt::Key_Backtab);
        EXPECT_EQ(editor->focusWidget(), round[i]) << "Shift+Tab to " << names[i].toStdString();
    }
    EXPECT_EQ(shown(), all);
}

} // namespace
