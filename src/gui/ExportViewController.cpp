#include "gui/ExportViewController.h"

#include "gui/Alerts.h"
#include "gui/ImportController.h"
#include "gui/PageTableModel.h"
#include "gui/PreviewPage.h"

#include "app/WorkQueue.h"
#include "backpack/TGBackpackAPI.h"
#include "backpack/TGBackpackPage.h"
#include "foundation/Error.h"
#include "signin/SettingsKeys.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QPointer>
#include <QResizeEvent>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <QWebEngineView>

namespace {

const QUrl kStartPage(QStringLiteral("qrc:/leafhaul/start.html"));

QString value(const QVariantMap &account, const char *key)
{
    return account.value(QLatin1String(key)).toString();
}

// Table and preview side by side: the divider stays between 150 px and half
// the width, and a new width goes to the preview.
class PageSplitter : public QSplitter
{
public:
    PageSplitter(QWidget *parent) : QSplitter(Qt::Horizontal, parent) {}

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QWidget *table = widget(0);
        const int maximum = qMax(ExportViewController::kMinimumTableWidth, event->size().width() / 2);
        if (table)
            table->setMaximumWidth(maximum);
        QSplitter::resizeEvent(event);
        const QList<int> now = sizes();
        if (now.size() == 2 && now[0] > maximum)
            setSizes({maximum, now[0] + now[1] - maximum});
    }
};

// The preview shows the selected page and Space marks the current one: from
// the keyboard, Ctrl and Shift included, the selection is the current row
// alone, so that the two never part.
class PageTableView : public QTableView
{
protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex &index, const QEvent *event) const override
    {
        if (event && event->type() == QEvent::KeyPress && index.isValid())
            return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
        return QTableView::selectionCommand(index, event);
    }
};

} // namespace

// What one load hands to the main thread.
struct ExportViewController::LoadResult
{
    bool hadAccount = false;
    std::shared_ptr<TGBackpackAPI> backpack;
    PageList pages;
    OptionalError error;
};

ExportViewController::ExportViewController(QWidget *parent)
    : QWidget(parent), m_splitter(new PageSplitter(this)), m_pagesTableView(new PageTableView),
      m_pages(new PageTableModel(this)), m_sorted(new PageSortProxy(this)), m_webView(new QWebEngineView),
      m_page(new PreviewPage(m_webView)), m_import(new ImportController(this))
{
    m_sorted->setSourceModel(m_pages);
    m_sorted->sort(PageTableModel::TitleColumn, Qt::AscendingOrder);
    m_pagesTableView->setModel(m_sorted);
    m_pagesTableView->setAccessibleName(localizedString("Pages"));
    m_pagesTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pagesTableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pagesTableView->setShowGrid(false);
    m_pagesTableView->setWordWrap(false);
    m_pagesTableView->verticalHeader()->hide();
    m_pagesTableView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    // Fixed sizes: measuring thousands of rows would cost every publication.
    m_pagesTableView->horizontalHeader()->setSectionResizeMode(PageTableModel::ImportColumn, QHeaderView::Fixed);
    m_pagesTableView->horizontalHeader()->resizeSection(
        PageTableModel::ImportColumn,
        m_pagesTableView->horizontalHeader()->sectionSizeHint(PageTableModel::ImportColumn));
    m_pagesTableView->horizontalHeader()->setStretchLastSection(true);
    m_pagesTableView->setMinimumWidth(kMinimumTableWidth);
    // Tab leaves the table for the preview; the arrows move between rows.
    m_pagesTableView->setTabKeyNavigation(false);
    m_pagesTableView->installEventFilter(this);
    connect(m_pagesTableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ExportViewController::tableViewSelectionDidChange);
    connect(m_pages, &PageTableModel::marksChanged, this, &ExportViewController::pagesChanged);

    m_webView->setPage(m_page);
    m_webView->setAccessibleName(localizedString("Page preview"));
    m_webView->setContextMenuPolicy(Qt::NoContextMenu);
    m_webView->setMinimumWidth(kMinimumTableWidth);
    new WebViewEventKillingWindow(m_webView);
    connect(m_page, &QWebEnginePage::loadFinished, this, &ExportViewController::previewLoadEnded);

    m_splitter->addWidget(m_pagesTableView);
    m_splitter->addWidget(m_webView);
    setTabOrder(m_pagesTableView, m_webView);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->setCollapsible(0, false);
    m_splitter->setCollapsible(1, false);
    // Window resizes go to the preview; the table keeps its width.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({260, 540});
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_splitter);

    connect(m_import, &ImportController::reauthorizeAndRestartImport, this,
            &ExportViewController::reauthorizeAndRestartImport);
    loadStartPage();
}

ExportViewController::~ExportViewController() = default;

void ExportViewController::loadAccount(const std::optional<QVariantMap> &account)
{
    const quint64 generation = ++m_loadGeneration;
    ++m_loadsRunning;
    emit pagesChanged();
    QPointer<ExportViewController> self(this);
    WorkQueue::runInBackground([self, account, generation] {
        LoadResult result;
        if (account) {
            using namespace SettingsKeys;
            result.hadAccount = true;
            result.backpack = std::make_shared<TGBackpackAPI>(value(*account, kSiteName), value(*account, kAPIKey),
                                                              value(*account, kUserName), value(*account, kPassword));
            const auto pages = result.backpack->pages();
            if (pages && !result.backpack->error())
                result.pages = PageList::make(*pages);
            else
                result.error = result.backpack->error().value_or(Error());
        }
        WorkQueue::runOnMainThreadAndWait([&] {
            if (self)
                self->publish(generation, result);
        });
    });
}

void ExportViewController::publish(quint64 generation, LoadResult &result)
{
    --m_loadsRunning;
    // A later load is on its way: this one would show another account's
    // pages than the picker names.
    if (generation != m_loadGeneration) {
        emit pagesChanged(); // maybe the last one running
        return;
    }
    if (result.hadAccount)
        m_backpack = result.backpack;
    const bool empty = result.pages.rows.isEmpty();
    m_pages->setPageList(std::move(result.pages));
    emit hideProgress();
    emit pageListPublished();
    if (result.error)
        Alerts::show(this, Alerts::Kind::PagesNotDownloaded, *result.error);
    if (!empty)
        m_pagesTableView->selectRow(0);
}

void ExportViewController::tableViewSelectionDidChange()
{
    m_webView->stop();
    const QModelIndexList rows = m_pagesTableView->selectionModel()->selectedRows();
    if (rows.isEmpty() || !m_backpack) {
        loadStartPage();
        return;
    }
    const QModelIndex first = *std::min_element(rows.begin(), rows.end());
    const auto &page = m_pages->rows().at(m_sorted->mapToSource(first).row()).page;
    emit showProgress(localizedString("Loading page…"));
    m_loadingInitialPage = false;
    m_page->load(m_backpack->URLForPage(page->backpackID()));
}

void ExportViewController::loadStartPage()
{
    m_loadingInitialPage = true;
    m_page->load(kStartPage);
}

void ExportViewController::showHelpPage()
{
    loadStartPage();
}

void ExportViewController::previewLoadEnded()
{
    if (m_loadingInitialPage)
        m_loadingInitialPage = false;
    else
        emit hideProgress();
}

bool ExportViewController::eventFilter(QObject *watched, QEvent *event)
{
    // Space marks or unmarks the current row from any of its cells, not
    // only from the check box's.
    if (watched == m_pagesTableView && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const QModelIndex current = m_pagesTableView->currentIndex();
        if ((key->key() == Qt::Key_Space || key->key() == Qt::Key_Select) && key->modifiers() == Qt::NoModifier
            && current.isValid()) {
            const QModelIndex mark = current.siblingAtColumn(PageTableModel::ImportColumn);
            const bool marked = mark.data(Qt::CheckStateRole).value<Qt::CheckState>() == Qt::Checked;
            m_sorted->setData(mark, marked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

bool ExportViewController::pagesLoaded() const
{
    return m_pages->rowCount() > 0;
}

bool ExportViewController::readyToImport() const
{
    return std::any_of(m_pages->rows().begin(), m_pages->rows().end(),
                       [](const ImportableBackpackPage &row) { return row.import; });
}

int ExportViewController::selectedForImportCount() const
{
    return m_pages->markedCount();
}

void ExportViewController::selectAllForImport()
{
    m_pages->setAllMarked(true);
}

void ExportViewController::selectNoneForImport()
{
    m_pages->setAllMarked(false);
}

QList<std::shared_ptr<TGBackpackPage>> ExportViewController::pagesToImport() const
{
    QList<std::shared_ptr<TGBackpackPage>> marked, all;
    for (int row = 0; row < m_sorted->rowCount(); ++row) {
        const ImportableBackpackPage &page = m_pages->rows().at(m_sorted->mapToSource(m_sorted->index(row, 0)).row());
        all << page.page;
        if (page.import)
            marked << page.page;
    }
    return marked.isEmpty() ? all : marked;
}

void ExportViewController::beginImportWithAuthentication(const WSKOAuthAuthentication &auth)
{
    m_import->beginImport(m_backpack, pagesToImport(), auth, window());
}
