#pragma once

// Kept light: the windows include it. Everything the steps need is only
// named here and included by the .cpp.

#include "app/AssetDownloader.h"
#include "foundation/Error.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct DownloadedAsset;
class NoteBuilder;
class Ravadido;
class RavadidoFromBackpackImporter;
class TGBackpackAPI;
class TGBackpackPage;
namespace ravadido {
class RURUNote;
class RURUNotebook;
} // namespace ravadido
namespace importertest {
class ImporterSteps;
} // namespace importertest

// The same record as the page's (backpack/TGBackpackPage.h).
using WidgetRecord = QVariantMap;
using BackpackPagePtr = std::shared_ptr<TGBackpackPage>;

// What an import tells the user interface, always on the main thread. Every
// method is optional (the defaults do nothing). The page, element and end
// calls are synchronous: the worker waits until they return. Status texts are
// posted without waiting but arrive in order with the rest.
class RavadidoImporterDelegate
{
public:
    virtual ~RavadidoImporterDelegate() = default;

    virtual void ravadidoImporterWillImportPage(RavadidoFromBackpackImporter *, const BackpackPagePtr &) {}
    virtual void ravadidoImporterDetailStatus(RavadidoFromBackpackImporter *, const QString & /*status*/,
                                              const BackpackPagePtr &, bool /*uploadingData*/)
    {
    }
    virtual void ravadidoImporterDidImportWidget(RavadidoFromBackpackImporter *, const WidgetRecord &,
                                                 const BackpackPagePtr &)
    {
    }
    virtual void ravadidoImporterDidImportPage(RavadidoFromBackpackImporter *, const BackpackPagePtr &) {}
    // Exactly one of the last three ends each import.
    virtual void ravadidoImporterDidFinish(RavadidoFromBackpackImporter *) {}
    virtual void ravadidoImporterDidFailWithError(RavadidoFromBackpackImporter *, const Error &) {}
    virtual void ravadidoImporterWasCancelled(RavadidoFromBackpackImporter *) {}
};

// True for the error that means the Ravadido token has expired and the user
// must sign in again.
bool isAuthenticationExpiredError(const Error &error);

// Moves Backpack pages into Ravadido: one notebook per page (in a stack named
// after the Backpack account), one note per page element, with the element's
// images and files attached. Runs on a background worker, one import per
// importer; create it with std::make_shared, since the worker keeps it alive
// until the import has ended. An import into an account that another
// Leafhaul is importing into fails before anything is sent (ImportLock).
class RavadidoFromBackpackImporter : public AssetDownloaderDelegate,
                                     public std::enable_shared_from_this<RavadidoFromBackpackImporter>
{
public:
    RavadidoFromBackpackImporter(std::shared_ptr<TGBackpackAPI> backpack, WSKOAuthAuthentication authentication);
    ~RavadidoFromBackpackImporter() override;

    // Not owned; must outlive the import. Set before the start.
    void setDelegate(RavadidoImporterDelegate *delegate) { m_delegate = delegate; }
    RavadidoImporterDelegate *delegate() const { return m_delegate; }

    // The import's own client of the account given at the start: a cancel
    // ends its requests for good, never those of the caller's client.
    const std::shared_ptr<TGBackpackAPI> &backpack() const { return m_backpack; }
    const WSKOAuthAuthentication &authentication() const { return m_authentication; }
    QList<BackpackPagePtr> backpackPagesToImport() const { return m_pages; }

    // Starts the import of `pages`, in order, on a background worker and
    // returns at once; lifts the process's soft limit of open files to the
    // hard one first. Main thread.
    void startImportingPages(const QList<BackpackPagePtr> &pages);
    // Stops the worker: the Backpack or NoteStore request under way ends at
    // once and none follows; it then ends with ravadidoImporterWasCancelled.
    // Any thread.
    void cancel();
    // Also true once the application is quitting.
    bool isCancelled() const;

private:
    // Tests drive single steps through it.
    friend class importertest::ImporterSteps;
    using NotebookPtr = std::shared_ptr<ravadido::RURUNotebook>;
    using NotePtr = std::shared_ptr<ravadido::RURUNote>;

    // The steps of one import, in the order the worker runs them. Each returns
    // its failure (false or nothing); a cancelled step leaves no error.
    static Error errorWithDescription(const QString &description, const QString &suggestion = {});
    bool setupRavadido(OptionalError *error);
    static QString notebookNameForPage(const TGBackpackPage &page);
    NotebookPtr createNotebookForPage(const BackpackPagePtr &page, OptionalError *error);
    // What the download step hands on to the note: the files with their MD5s.
    std::optional<DownloadedAsset> downloadAsset(const WidgetRecord &widget, const BackpackPagePtr &page,
                                                 OptionalError *error);
    std::optional<QList<DownloadedAsset>> downloadAssetsForWidget(const WidgetRecord &widget,
                                                                  const BackpackPagePtr &page, OptionalError *error);
    bool importWidget(const WidgetRecord &widget, const BackpackPagePtr &page, const NotebookPtr &notebook,
                      OptionalError *error);
    bool deleteNotes(const std::vector<NotePtr> &notes);
    // Reads the page's details into it before anything of the page is sent.
    bool readPageDetails(const BackpackPagePtr &page, OptionalError *error);
    static QList<WidgetRecord> currentWidgets(const TGBackpackPage &page);
    // Every gallery of the page fits a note and the open-file limit.
    static bool galleriesFit(const QList<WidgetRecord> &widgets, OptionalError *error);
    // No two assets of the page are kept in one local file.
    bool assetFilesApart(const QList<WidgetRecord> &widgets, OptionalError *error) const;
    bool importPageContents(const BackpackPagePtr &page, const NotebookPtr &notebook, OptionalError *error);
    bool importPage(const BackpackPagePtr &page, OptionalError *error);

    // AssetDownloaderDelegate, on the worker thread.
    void assetDownloader(AssetDownloader *downloader, const DownloadedAsset &asset) override;
    void assetDownloader(AssetDownloader *downloader, const Error &error) override;

    void run();
    void postStatus(const QString &status, const BackpackPagePtr &page, bool uploading);
    // Runs `call` with the delegate on the main thread and waits; false when
    // there is no delegate or the call was abandoned at quit.
    bool callDelegate(const std::function<void(RavadidoImporterDelegate *)> &call);

    std::shared_ptr<TGBackpackAPI> m_backpack;
    WSKOAuthAuthentication m_authentication;
    QList<BackpackPagePtr> m_pages;
    std::atomic<RavadidoImporterDelegate *> m_delegate{nullptr};

    std::unique_ptr<Ravadido> m_ravadido;
    std::unique_ptr<NoteBuilder> m_builder;
    std::atomic<bool> m_stopImport{false};
    // Guids of the notes this import created: never deleted as "old" notes,
    // also when two pages share a notebook.
    std::set<std::string> m_createdNoteGuids;
    // Pages of this import still to come, by notebook name, and the notes
    // each notebook held before this import, by notebook guid, until its
    // last page is in.
    std::map<QString, int> m_pagesLeftForNotebook;
    std::map<std::string, std::vector<NotePtr>> m_earlierNotes;

    // The download in progress; written by the downloader's callbacks on the
    // worker thread.
    std::atomic<bool> m_downloading{false};
    OptionalError m_downloadError;
    std::unique_ptr<DownloadedAsset> m_downloaded;
};
