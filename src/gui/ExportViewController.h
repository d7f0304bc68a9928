#pragma once

#include <QList>
#include <QVariantMap>
#include <QWidget>

#include <memory>
#include <optional>

class ImportController;
class PageSortProxy;
class PageTableModel;
class PreviewPage;
class QSplitter;
class QTableView;
class QWebEngineView;
class TGBackpackAPI;
class TGBackpackPage;
class WSKOAuthAuthentication;

// The main window's body: the page table of the selected account on the left
// and a read-only preview of the selected page on the right. Page lists load
// on the work queue; only the load asked for last is shown. The import of
// the listed pages, with its progress sheet, is the ImportController's.
class ExportViewController : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kMinimumTableWidth = 150;

    explicit ExportViewController(QWidget *parent = nullptr);
    ~ExportViewController() override;

    // Loads the account's page list away from the main thread and shows it
    // when it arrives, unless another load was asked for since; no account
    // empties the list. A failure shows an alert. Main thread.
    void loadAccount(const std::optional<QVariantMap> &account);
    // Shows the start page in the preview.
    void showHelpPage();

    bool pagesLoaded() const;
    bool readyToImport() const;
    int selectedForImportCount() const;
    void selectAllForImport();
    void selectNoneForImport();
    // The marked pages in table order, else every page in table order.
    QList<std::shared_ptr<TGBackpackPage>> pagesToImport() const;

    // Opens the progress sheet and imports pagesToImport() with `auth`.
    void beginImportWithAuthentication(const WSKOAuthAuthentication &auth);
    ImportController *importController() const { return m_import; }

    QTableView *pagesTableView() const { return m_pagesTableView; }
    QWebEngineView *webView() const { return m_webView; }
    QSplitter *splitView() const { return m_splitter; }
    PageTableModel *pagesModel() const { return m_pages; }
    const std::shared_ptr<TGBackpackAPI> &backpack() const { return m_backpack; }
    bool isLoadingPages() const { return m_loadsRunning > 0; }

signals:
    // The status area of the main window.
    void showProgress(const QString &text);
    void hideProgress();
    // The list, its marks or its loading changed: the import command may
    // change state.
    void pagesChanged();
    // A page list was shown (published), whatever its result.
    void pageListPublished();
    // An import ended because the Ravadido token has expired.
    void reauthorizeAndRestartImport();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct LoadResult;
    void publish(quint64 generation, LoadResult &result);
    void tableViewSelectionDidChange();
    void loadStartPage();
    void previewLoadEnded();

    QSplitter *m_splitter;
    QTableView *m_pagesTableView;
    PageTableModel *m_pages;
    PageSortProxy *m_sorted;
    QWebEngineView *m_webView;
    PreviewPage *m_page;
    ImportController *m_import;

    std::shared_ptr<TGBackpackAPI> m_backpack;
    quint64 m_loadGeneration = 0;
    int m_loadsRunning = 0;
    bool m_loadingInitialPage = false;
};
