#include "app/RavadidoFromBackpackImporter.h"

#include "app/GalleryLimits.h"
#include "app/ImportLock.h"
#include "app/NoteBuilder.h"
#include "app/Ravadido.h"
#include "app/WorkQueue.h"
#include "backpack/TGBackpackAPI.h"
#include "backpack/TGBackpackPage.h"

#include <QHash>

#include <sys/resource.h>

namespace {

bool isNeverImported(const QString &type)
{
    return type == QLatin1String("PageLink") || type == QLatin1String("Separator")
           || type == QLatin1String("WriteboardLink");
}

// A cancelled client stays cancelled; the window's one lists pages and
// starts the next import after a stopped one.
std::shared_ptr<TGBackpackAPI> clientOfItsOwn(const std::shared_ptr<TGBackpackAPI> &backpack)
{
    if (!backpack)
        return nullptr;
    auto own = std::make_shared<TGBackpackAPI>(backpack->sitename(), backpack->token(), backpack->username(),
                                               backpack->password());
    own->setRetryPolicy(backpack->retryPolicy());
    own->setDelegate(backpack->delegate());
    return own;
}

// A gallery's note keeps each image's file open, locked, until it is sent
// (up to the service's 1,000 resources a note): the soft limit of open files,
// often 1,024, is too few; the hard limit is the user's to give.
void allowAllOpenFiles()
{
    struct rlimit files = {};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
}

// The page element itself, under the answer's root; a page link inside it
// has the same name, so only a child of the root counts.
bool holdsPage(const XmlDocument &details, const QString &pageID)
{
    for (xmlNodePtr node : details.nodes(QStringLiteral("page")).value_or(QList<xmlNodePtr>()))
        if (xml::attribute(node, "id") == pageID)
            return true;
    return false;
}

} // namespace

bool isAuthenticationExpiredError(const Error &error)
{
    return error.is(kLeafhaulErrorDomain, kRavadidoAuthExpiredCode);
}

RavadidoFromBackpackImporter::RavadidoFromBackpackImporter(std::shared_ptr<TGBackpackAPI> backpack,
                                                           WSKOAuthAuthentication authentication)
    : m_backpack(clientOfItsOwn(backpack)), m_authentication(std::move(authentication)),
      m_builder(std::make_unique<NoteBuilder>([this] { return isCancelled(); }))
{
}

RavadidoFromBackpackImporter::~RavadidoFromBackpackImporter() = default;

void RavadidoFromBackpackImporter::cancel()
{
    m_stopImport = true;
    if (m_backpack)
        m_backpack->cancel();
}

bool RavadidoFromBackpackImporter::isCancelled() const
{
    return m_stopImport || WorkQueue::isQuitting();
}

void RavadidoFromBackpackImporter::startImportingPages(const QList<BackpackPagePtr> &pages)
{
    m_pages = pages;
    m_stopImport = false;
    m_builder->resetUntitledCount();
    allowAllOpenFiles();
    WorkQueue::runInBackground([self = shared_from_this()] { self->run(); });
}

Error RavadidoFromBackpackImporter::errorWithDescription(const QString &description, const QString &suggestion)
{
    return Error(kLeafhaulErrorDomain, 0, description, {}, suggestion);
}

bool RavadidoFromBackpackImporter::callDelegate(const std::function<void(RavadidoImporterDelegate *)> &call)
{
    if (!m_delegate.load())
        return false;
    return WorkQueue::runOnMainThreadAndWait([this, &call] {
        if (RavadidoImporterDelegate *delegate = m_delegate.load())
            call(delegate);
    });
}

void RavadidoFromBackpackImporter::postStatus(const QString &status, const BackpackPagePtr &page, bool uploading)
{
    if (!m_delegate.load())
        return;
    WorkQueue::runOnMainThread([self = shared_from_this(), status, page, uploading] {
        if (RavadidoImporterDelegate *delegate = self->m_delegate.load())
            delegate->ravadidoImporterDetailStatus(self.get(), status, page, uploading);
    });
}

void RavadidoFromBackpackImporter::run()
{
    OptionalError recorded;
    bool failed = false;
    m_pagesLeftForNotebook.clear();
    m_earlierNotes.clear();
    for (const BackpackPagePtr &page : std::as_const(m_pages))
        ++m_pagesLeftForNotebook[notebookNameForPage(*page)];
    // Before anything is sent, and held until the outcome.
    std::unique_ptr<ImportLock> lock = ImportLock::take(m_authentication, &recorded);
    if (lock && setupRavadido(&recorded)) {
        for (const BackpackPagePtr &page : std::as_const(m_pages)) {
            if (isCancelled())
                break;
            callDelegate([&](RavadidoImporterDelegate *d) { d->ravadidoImporterWillImportPage(this, page); });
            const bool imported = importPage(page, &recorded);
            if (imported)
                callDelegate([&](RavadidoImporterDelegate *d) { d->ravadidoImporterDidImportPage(this, page); });
            // Only the page being imported keeps its document.
            page->setContents(XmlDocument());
            if (!imported) {
                failed = true;
                break;
            }
        }
    } else {
        failed = true;
    }
    m_ravadido.reset();
    m_earlierNotes.clear();
    lock.reset();

    if (isCancelled()) {
        callDelegate([&](RavadidoImporterDelegate *d) { d->ravadidoImporterWasCancelled(this); });
    } else if (failed) {
        // A step that failed without saying why still ends as a failure.
        const Error error = recorded
                                ? *recorded
                                : errorWithDescription(localizedString("The import stopped before it was complete."),
                                                       localizedString("Try the import again."));
        callDelegate([&](RavadidoImporterDelegate *d) { d->ravadidoImporterDidFailWithError(this, error); });
    } else {
        callDelegate([&](RavadidoImporterDelegate *d) { d->ravadidoImporterDidFinish(this); });
    }
}

bool RavadidoFromBackpackImporter::setupRavadido(OptionalError *error)
{
    m_ravadido = std::make_unique<Ravadido>();
    m_ravadido->setCancellationCheck([this] { return isCancelled(); });
    if (m_ravadido->connectWithAuthentication(m_authentication))
        return true;
    setErrorSlot(error, errorWithDescription(
                            localizedString("Unable to connect to Ravadido."),
                            localizedString("Make sure you've given Leafhaul permission to access your Ravadido "
                                            "account and you're connected to the internet.")));
    return false;
}

QString RavadidoFromBackpackImporter::notebookNameForPage(const TGBackpackPage &page)
{
    return NoteBuilder::fixupNotebookTitle(page.titleForDisplay());
}

Ravadido::NotebookPtr RavadidoFromBackpackImporter::createNotebookForPage(const BackpackPagePtr &page,
                                                                          OptionalError *error)
{
    const QString name = notebookNameForPage(*page);
    OptionalError lookup;
    Ravadido::NotebookPtr notebook = m_ravadido->notebookWithName(name, &lookup);
    if (lookup) {
        setErrorSlot(error, *lookup);
        return nullptr;
    }
    if (!notebook)
        notebook = m_ravadido->createNotebookWithName(name, NoteBuilder::notebookStackName(m_backpack->sitename()),
                                                      error);
    if (notebook && (!notebook->guid() || notebook->guid()->empty())) {
        setErrorSlot(error, errorWithDescription(localizedString("Unable to create notebook %1.").arg(name)));
        return nullptr;
    }
    return notebook;
}

std::optional<DownloadedAsset> RavadidoFromBackpackImporter::downloadAsset(const WidgetRecord &widget,
                                                                           const BackpackPagePtr &page,
                                                                           OptionalError *error)
{
    postStatus(localizedString("downloading %1…").arg(widget.value(kWidgetFilenameKey).toString()), page, true);
    // Nothing of an earlier download may stand in for this one.
    m_downloading = true;
    m_downloadError.reset();
    m_downloaded.reset();

    AssetDownloader downloader(m_backpack, this);
    downloader.setCancellationCheck([this] { return isCancelled(); });
    const QUrl url = NoteBuilder::assetURLForWidget(widget, m_backpack->accountURL());
    if (!downloader.startDownloadingFile(url, error))
        return std::nullopt;
    if (isCancelled()) {
        downloader.cancelDownload();
        return std::nullopt;
    }
    if (m_downloading) {
        setErrorSlot(error, errorWithDescription(localizedString("The download of %1 ended without a result.")
                                                     .arg(widget.value(kWidgetFilenameKey).toString())));
        return std::nullopt;
    }
    if (m_downloadError || !m_downloaded) {
        if (m_downloadError)
            setErrorSlot(error, *m_downloadError);
        return std::nullopt;
    }
    const std::unique_ptr<DownloadedAsset> downloaded = std::move(m_downloaded);
    return std::move(*downloaded);
}

void RavadidoFromBackpackImporter::assetDownloader(AssetDownloader *, const DownloadedAsset &asset)
{
    m_downloadError.reset();
    m_downloaded = std::make_unique<DownloadedAsset>(asset);
    m_downloading = false;
}

void RavadidoFromBackpackImporter::assetDownloader(AssetDownloader *, const Error &error)
{
    m_downloaded.reset();
    m_downloadError = error;
    m_downloading = false;
}

std::optional<QList<DownloadedAsset>> RavadidoFromBackpackImporter::downloadAssetsForWidget(const WidgetRecord &widget,
                                                                                            const BackpackPagePtr &page,
                                                                                            OptionalError *error)
{
    const QString type = widget.value(kWidgetTypeKey).toString();
    if (type == QLatin1String("Asset")) {
        std::optional<DownloadedAsset> asset = downloadAsset(widget, page, error);
        if (!asset)
            return std::nullopt;
        return QList<DownloadedAsset>{std::move(*asset)};
    }
    if (type == QLatin1String("Gallery")) {
        // Within its limits: importPage checked them before anything else.
        const QVariantList images = widget.value(QStringLiteral("images")).toList();
        QList<DownloadedAsset> assets;
        for (const QVariant &image : images) {
            if (isCancelled())
                return std::nullopt;
            std::optional<DownloadedAsset> asset = downloadAsset(image.toMap(), page, error);
            if (!asset)
                return std::nullopt;
            assets << std::move(*asset);
        }
        return assets;
    }
    setErrorSlot(error, errorWithDescription(localizedString("Widget has no assets")));
    return std::nullopt;
}

bool RavadidoFromBackpackImporter::importWidget(const WidgetRecord &widget, const BackpackPagePtr &page,
                                                const Ravadido::NotebookPtr &notebook, OptionalError *error)
{
    if (isCancelled())
        return false;
    QList<DownloadedAsset> assets;
    if (NoteBuilder::isAsset(widget)) {
        std::optional<QList<DownloadedAsset>> downloaded = downloadAssetsForWidget(widget, page, error);
        if (!downloaded)
            return false;
        assets = std::move(*downloaded);
    }
    Ravadido::NotePtr note = m_builder->createNoteForWidget(widget, assets, error);
    if (!note)
        return false;
    note->setNotebookGuid(*notebook->guid());
    if (isCancelled())
        return false;
    const QString type = widget.value(kWidgetTypeKey).toString();
    const QString title = note->title() ? QString::fromStdString(*note->title()) : QString();
    postStatus(localizedString("creating note %1…").arg(title), page,
               type == QLatin1String("Asset") || type == QLatin1String("Gallery"));
    const Ravadido::NotePtr created = m_ravadido->createNote(note, error);
    if (!created)
        return false;
    if (created->guid())
        m_createdNoteGuids.insert(*created->guid());
    return true;
}

bool RavadidoFromBackpackImporter::deleteNotes(const std::vector<Ravadido::NotePtr> &notes)
{
    for (const Ravadido::NotePtr &note : notes) {
        if (note && note->guid() && m_createdNoteGuids.count(*note->guid()))
            continue;
        // A failed delete is logged by the connection; the others still go.
        m_ravadido->deleteNote(note);
    }
    return true;
}

bool RavadidoFromBackpackImporter::readPageDetails(const BackpackPagePtr &page, OptionalError *error)
{
    const std::optional<XmlDocument> details = m_backpack->page(page->backpackID());
    if (!details) {
        if (m_backpack->error())
            setErrorSlot(error, *m_backpack->error());
        return false;
    }
    // A well-formed answer without the page (a sign-in page in XHTML, a bare
    // success) would pass for an empty page and have its notebook emptied.
    if (!holdsPage(*details, page->backpackID())) {
        setErrorSlot(error, errorWithDescription(
                                localizedString("The page “%1” could not be read from Backpack: its answer did not "
                                                "hold the page.")
                                    .arg(page->titleForDisplay()),
                                localizedString("Make sure you can open the page in a web browser and that the "
                                                "account's site name and API key are correct, then import again. "
                                                "The page's notebook was left as it was.")));
        return false;
    }
    page->setContents(*details);
    return true;
}

QList<WidgetRecord> RavadidoFromBackpackImporter::currentWidgets(const TGBackpackPage &page)
{
    // A page object keeps the elements it read the first time; a page
    // imported again must not bring back that stale set (new elements
    // missing, edits lost), so today's details are read from a fresh copy.
    TGBackpackPage current(page.backpackID(), page.title(), page.scope());
    current.setContents(page.contents());
    return current.widgets();
}

bool RavadidoFromBackpackImporter::galleriesFit(const QList<WidgetRecord> &widgets, OptionalError *error)
{
    for (const WidgetRecord &widget : widgets) {
        if (widget.value(kWidgetTypeKey).toString() != QLatin1String("Gallery"))
            continue;
        if (OptionalError refused = GalleryLimits::refusal(widget.value(QStringLiteral("name")).toString(),
                                                           widget.value(QStringLiteral("images")).toList().size())) {
            setErrorSlot(error, std::move(*refused));
            return false;
        }
    }
    return true;
}

bool RavadidoFromBackpackImporter::assetFilesApart(const QList<WidgetRecord> &widgets, OptionalError *error) const
{
    // Local names are one to one but for two of their short hashes meeting,
    // which a crafted page can bring about: the second download would then
    // replace the first one's file before its note is sent.
    const QUrl account = m_backpack->accountURL();
    QHash<QString, std::pair<QUrl, QString>> owners; // local name: URL, file name
    for (const WidgetRecord &widget : widgets) {
        const QString type = widget.value(kWidgetTypeKey).toString();
        QVariantList assets;
        if (type == QLatin1String("Asset"))
            assets << widget;
        else if (type == QLatin1String("Gallery"))
            assets = widget.value(QStringLiteral("images")).toList();
        for (const QVariant &asset : std::as_const(assets)) {
            const QUrl url = NoteBuilder::assetURLForWidget(asset.toMap(), account);
            const QString filename = asset.toMap().value(kWidgetFilenameKey).toString();
            const QString local = AssetDownloader::localNameForURL(url);
            if (local.isEmpty()) // the download says what is wrong with it
                continue;
            const auto owner = owners.constFind(local);
            if (owner == owners.cend()) {
                owners.insert(local, {url, filename});
            } else if (owner->first != url) {
                const QString description =
                    owner->second == filename
                        ? localizedString("Two files of the page named “%1” would be kept in one file on this "
                                          "computer.")
                              .arg(filename)
                        : localizedString("Two files of the page, “%1” and “%2”, would be kept in one file on this "
                                          "computer.")
                              .arg(owner->second, filename);
                setErrorSlot(error, errorWithDescription(description,
                                                         localizedString("Rename one of them in Backpack, then import "
                                                                         "again.")));
                return false;
            }
        }
    }
    return true;
}

bool RavadidoFromBackpackImporter::importPageContents(const BackpackPagePtr &page,
                                                      const Ravadido::NotebookPtr &notebook, OptionalError *error)
{
    // The notebook's notes of an earlier import are found before this import
    // adds any and removed only once the last page of this import that shares
    // the notebook is in: a failure or cancel before that leaves them.
    const std::string notebookGuid = *notebook->guid();
    if (!m_earlierNotes.count(notebookGuid)) {
        std::optional<std::vector<Ravadido::NotePtr>> earlier = m_ravadido->notesInNotebook(notebook, error);
        if (!earlier)
            return false;
        m_earlierNotes.emplace(notebookGuid, std::move(*earlier));
    }

    for (const WidgetRecord &widget : currentWidgets(*page)) {
        if (isCancelled())
            return false;
        if (isNeverImported(widget.value(kWidgetTypeKey).toString()))
            continue;
        if (!importWidget(widget, page, notebook, error))
            return false;
        callDelegate([&](RavadidoImporterDelegate *d) { d->ravadidoImporterDidImportWidget(this, widget, page); });
    }
    if (--m_pagesLeftForNotebook[notebookNameForPage(*page)] > 0)
        return true;
    const auto earlier = m_earlierNotes.find(notebookGuid);
    const std::vector<Ravadido::NotePtr> notes = std::move(earlier->second);
    m_earlierNotes.erase(earlier);
    return deleteNotes(notes);
}

bool RavadidoFromBackpackImporter::importPage(const BackpackPagePtr &page, OptionalError *error)
{
    // What the page holds comes first: a page refused for it (a gallery too
    // large, two assets in one file) leaves no new, empty notebook.
    if (!readPageDetails(page, error))
        return false;
    const QList<WidgetRecord> widgets = currentWidgets(*page);
    if (!galleriesFit(widgets, error) || !assetFilesApart(widgets, error))
        return false;
    const Ravadido::NotebookPtr notebook = createNotebookForPage(page, error);
    if (!notebook)
        return false;
    return importPageContents(page, notebook, error);
}
