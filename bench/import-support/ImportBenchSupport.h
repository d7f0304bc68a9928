#pragma once

// What the import benchmarks share: running one import to its end.

#include "app/RavadidoFromBackpackImporter.h"
#include "app/WorkQueue.h"

#include <QEventLoop>

// Runs an import on this thread's event loop and keeps how it ended; a
// benchmark overrides the other delegate calls for what it measures.
class ImportRun : public RavadidoImporterDelegate
{
public:
    bool finished = false;
    OptionalError error;

    // Returns once the import and its worker have ended.
    void runToEnd(RavadidoFromBackpackImporter &importer, const QList<BackpackPagePtr> &pages)
    {
        importer.setDelegate(this);
        importer.startImportingPages(pages);
        m_loop.exec();
        WorkQueue::waitForBackgroundWork();
    }

    void ravadidoImporterDidFinish(RavadidoFromBackpackImporter *) override
    {
        finished = true;
        m_loop.quit();
    }
    void ravadidoImporterDidFailWithError(RavadidoFromBackpackImporter *, const Error &e) override
    {
        error = e;
        m_loop.quit();
    }
    void ravadidoImporterWasCancelled(RavadidoFromBackpackImporter *) override { m_loop.quit(); }

private:
    QEventLoop m_loop;
};
