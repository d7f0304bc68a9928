#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

#include <memory>

class ImportProgressSheet;
class RavadidoFromBackpackImporter;
class TGBackpackAPI;
class TGBackpackPage;
class QWidget;
class WSKOAuthAuthentication;

// Runs one import at a time with its progress sheet: starts the importer and
// turns its delegate callbacks (on the main thread) into the sheet's events.
// The importer of the last import is kept until the next one starts.
class ImportController : public QObject
{
    Q_OBJECT
public:
    explicit ImportController(QObject *parent = nullptr);
    ~ImportController() override;

    // Opens the progress sheet on `window` and starts importing `pages`.
    void beginImport(const std::shared_ptr<TGBackpackAPI> &backpack,
                     const QList<std::shared_ptr<TGBackpackPage>> &pages, const WSKOAuthAuthentication &auth,
                     QWidget *window);
    // Asks a running import to stop and returns at once.
    void cancel();
    bool isImporting() const { return m_importing; }

    ImportProgressSheet *progressSheet() const;
    const std::shared_ptr<RavadidoFromBackpackImporter> &importer() const { return m_importer; }

signals:
    // The import ended because the Ravadido token has expired.
    void reauthorizeAndRestartImport();
    void importStarted();
    // Any end: finished, failed or cancelled.
    void importEnded();

private:
    class Callbacks;
    void ended();

    std::unique_ptr<Callbacks> m_callbacks;
    std::shared_ptr<RavadidoFromBackpackImporter> m_importer;
    QPointer<ImportProgressSheet> m_sheet;
    bool m_importing = false;
};
