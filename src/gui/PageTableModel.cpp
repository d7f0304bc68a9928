#include "gui/PageTableModel.h"

#include "backpack/TGBackpackPage.h"
#include "foundation/Error.h"

#include <QCollator>
#include <QLocale>

PageList PageList::make(const QList<std::shared_ptr<TGBackpackPage>> &pages)
{
    QCollator collator{QLocale()};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    PageList list;
    list.rows.reserve(pages.size());
    list.titles.reserve(pages.size());
    list.sortKeys.reserve(size_t(pages.size()));
    for (const auto &page : pages) {
        list.rows.append({page, false});
        list.titles.append(page->titleForDisplay());
        list.sortKeys.push_back(collator.sortKey(list.titles.back()));
    }
    return list;
}

void PageTableModel::setPageList(PageList list)
{
    beginResetModel();
    m_list = std::move(list);
    endResetModel();
    emit marksChanged();
}

int PageTableModel::markedCount() const
{
    return int(std::count_if(m_list.rows.begin(), m_list.rows.end(),
                             [](const ImportableBackpackPage &row) { return row.import; }));
}

void PageTableModel::setAllMarked(bool marked)
{
    for (ImportableBackpackPage &row : m_list.rows)
        row.import = marked;
    if (!m_list.rows.isEmpty())
        emit dataChanged(index(0, ImportColumn), index(rowCount() - 1, ImportColumn), {Qt::CheckStateRole});
    emit marksChanged();
}

int PageTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_list.rows.size());
}

int PageTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant PageTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (index.column() == ImportColumn && role == Qt::CheckStateRole)
        return m_list.rows[index.row()].import ? Qt::Checked : Qt::Unchecked;
    // A screen reader names each check box after its page.
    if (index.column() == ImportColumn && role == Qt::AccessibleTextRole)
        return m_list.titles[index.row()];
    if (index.column() == TitleColumn && (role == Qt::DisplayRole || role == Qt::ToolTipRole))
        return m_list.titles[index.row()];
    return {};
}

bool PageTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || index.column() != ImportColumn || role != Qt::CheckStateRole)
        return false;
    m_list.rows[index.row()].import = value.value<Qt::CheckState>() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit marksChanged();
    return true;
}

Qt::ItemFlags PageTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.column() == ImportColumn)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

QVariant PageTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == ImportColumn ? localizedString("Import") : localizedString("Page");
}

bool PageSortProxy::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    const auto *pages = static_cast<const PageTableModel *>(sourceModel());
    const int order = pages->sortKey(left.row()).compare(pages->sortKey(right.row()));
    // Equal titles keep the client's order.
    return order != 0 ? order < 0 : left.row() < right.row();
}
