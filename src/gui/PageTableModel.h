#pragma once

#include <QAbstractTableModel>
#include <QCollatorSortKey>
#include <QList>
#include <QSortFilterProxyModel>

#include <memory>
#include <vector>

class TGBackpackPage;

// One row of the page table: the page and its import mark.
struct ImportableBackpackPage
{
    std::shared_ptr<TGBackpackPage> page;
    bool import = false;
};

// A loaded page list ready for the table: rows, display titles and collation
// keys, all made off the main thread so that publishing only swaps them in.
struct PageList
{
    QList<ImportableBackpackPage> rows;
    QStringList titles;
    std::vector<QCollatorSortKey> sortKeys;

    // Unmarked rows for `pages`; titles compare case-insensitively in the
    // user's locale. Any thread.
    static PageList make(const QList<std::shared_ptr<TGBackpackPage>> &pages);
};

// The pages of the listed account in the order the client gave them: a check
// box (marked for import) and the title.
class PageTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { ImportColumn, TitleColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void setPageList(PageList list);
    const QList<ImportableBackpackPage> &rows() const { return m_list.rows; }
    const QCollatorSortKey &sortKey(int row) const { return m_list.sortKeys[size_t(row)]; }

    int markedCount() const;
    void setAllMarked(bool marked);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

signals:
    void marksChanged();

private:
    PageList m_list;
};

// The table order: by display title, case-insensitive in the user's locale.
class PageSortProxy : public QSortFilterProxyModel
{
    Q_OBJECT
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
};
