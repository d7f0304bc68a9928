#include "gui/ImportController.h"

#include "gui/ImportProgressSheet.h"

#include "app/RavadidoFromBackpackImporter.h"
#include "backpack/TGBackpackPage.h"

// The importer's delegate: every call arrives on the main thread, in the
// order the importer made it.
class ImportController::Callbacks : public RavadidoImporterDelegate
{
public:
    explicit Callbacks(ImportController *owner) : m_owner(owner) {}

    void ravadidoImporterWillImportPage(RavadidoFromBackpackImporter *, const BackpackPagePtr &page) override
    {
        if (auto *sheet = m_owner->m_sheet.data())
            sheet->willImportPage(page->titleForDisplay());
    }
    void ravadidoImporterDetailStatus(RavadidoFromBackpackImporter *, const QString &status, const BackpackPagePtr &,
                                      bool uploadingData) override
    {
        if (auto *sheet = m_owner->m_sheet.data())
            sheet->detailStatus(status, uploadingData);
    }
    void ravadidoImporterDidImportWidget(RavadidoFromBackpackImporter *, const WidgetRecord &,
                                         const BackpackPagePtr &page) override
    {
        if (auto *sheet = m_owner->m_sheet.data())
            sheet->didImportWidget(page->widgets().size());
    }
    void ravadidoImporterDidImportPage(RavadidoFromBackpackImporter *, const BackpackPagePtr &) override
    {
        if (auto *sheet = m_owner->m_sheet.data())
            sheet->didImportPage();
    }
    void ravadidoImporterDidFinish(RavadidoFromBackpackImporter *) override
    {
        m_owner->m_importing = false;
        if (auto *sheet = m_owner->m_sheet.data())
            sheet->didFinish();
        m_owner->ended();
    }
    void ravadidoImporterDidFailWithError(RavadidoFromBackpackImporter *, const Error &error) override
    {
        // The sheet asks for the new sign-in itself (authenticationExpired).
        m_owner->m_importing = false;
        if (auto *sheet = m_owner->m_sheet.data())
            sheet->didFailWithError(error);
        m_owner->ended();
    }
    void ravadidoImporterWasCancelled(RavadidoFromBackpackImporter *) override
    {
        m_owner->m_importing = false;
        if (auto *sheet = m_owner->m_sheet.data())
            sheet->wasCancelled();
        m_owner->ended();
    }

private:
    ImportController *m_owner;
};

ImportController::ImportController(QObject *parent) : QObject(parent), m_callbacks(std::make_unique<Callbacks>(this)) {}

ImportController::~ImportController()
{
    // The worker may still be running: it must call no one from now on.
    if (m_importer) {
        m_importer->setDelegate(nullptr);
        m_importer->cancel();
    }
}

void ImportController::beginImport(const std::shared_ptr<TGBackpackAPI> &backpack,
                                   const QList<std::shared_ptr<TGBackpackPage>> &pages,
                                   const WSKOAuthAuthentication &auth, QWidget *window)
{
    if (m_importing || !backpack)
        return;
    if (!m_sheet) {
        m_sheet = new ImportProgressSheet(window);
        connect(m_sheet, &ImportProgressSheet::stopRequested, this, &ImportController::cancel);
        connect(m_sheet, &ImportProgressSheet::authenticationExpired, this,
                &ImportController::reauthorizeAndRestartImport);
    }
    m_sheet->beginImport(pages.size());
    if (m_importer)
        m_importer->setDelegate(nullptr);
    m_importer = std::make_shared<RavadidoFromBackpackImporter>(backpack, auth);
    m_importer->setDelegate(m_callbacks.get());
    m_importing = true;
    emit importStarted();
    m_importer->startImportingPages(pages);
}

ImportProgressSheet *ImportController::progressSheet() const
{
    return m_sheet;
}

void ImportController::cancel()
{
    if (m_importer && m_importing)
        m_importer->cancel();
}

void ImportController::ended()
{
    m_importing = false;
    emit importEnded();
}
