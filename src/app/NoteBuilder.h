#pragma once

#include "app/DownloadedAsset.h"
#include "app/NotebookNames.h"
#include "foundation/Error.h"
#include "ravadido/Types.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <string_view>

// Turns Backpack widget records into Ravadido notes: ENML content, resources
// for the element's downloaded files, titles the service accepts. One builder
// serves one import run on its worker thread.
class NoteBuilder
{
public:
    // `isCancelled` (may be empty) tells whether the run was cancelled; the
    // gallery builder asks it before each image.
    explicit NoteBuilder(std::function<bool()> isCancelled = {});

    // Untitled notes are numbered from 1 in each run.
    void resetUntitledCount() { m_untitledCount = 0; }

    // ENML document head (declaration, document type, "<en-note>") and end.
    static QString beginningContentForNote();
    static void endNoteContent(QString &content);

    // The file's whole bytes with their size and MD5 (the asset's own),
    // lent rather than read: the record keeps the file open under a shared
    // lock and the upload reads it as it goes out. nullptr with the error
    // when it is not a plain file (a link, a FIFO, a device: refused at
    // once, never waited on), cannot be read, another program holds it
    // locked, its size is no longer the asset's, or it is too large for one
    // resource.
    static std::shared_ptr<ravadido::RURUData> ravadidoDataWithContentsOfFile(const DownloadedAsset &file,
                                                                              OptionalError *error = nullptr);
    static std::shared_ptr<ravadido::RURUData> ravadidoDataWithString(const QString &text);
    // Lower-case hexadecimal, two digits per byte.
    static QString dataToHex(std::string_view bytes);
    // By the name, unless the head is clearly of another kind
    // (FileTypes::mimeType); "application/octet-stream" when nothing is
    // known. The slot receives an error only when the file is not a plain
    // file or cannot be read.
    static QString mimeTypeForPath(const QString &path, OptionalError *error = nullptr);

    // Builders. The ones with files take the local files of the element, in
    // the order of its images for a gallery; a gallery's files stay open
    // until its note goes, and one that GalleryLimits refuses is an error.
    // nullptr without an error means cancelled; nullptr with an error means
    // a file could not be attached or the element type has no builder.
    std::shared_ptr<ravadido::RURUNote> createNoteForAttachment(const QVariantMap &widget,
                                                                const QList<DownloadedAsset> &files,
                                                                OptionalError *error = nullptr);
    std::shared_ptr<ravadido::RURUNote> createNoteForGallery(const QVariantMap &widget,
                                                             const QList<DownloadedAsset> &files,
                                                             OptionalError *error = nullptr);
    std::shared_ptr<ravadido::RURUNote> createNoteForEmail(const QVariantMap &widget);
    std::shared_ptr<ravadido::RURUNote> createNoteForList(const QVariantMap &widget);
    std::shared_ptr<ravadido::RURUNote> createNoteForNote(const QVariantMap &widget);
    std::shared_ptr<ravadido::RURUNote> createNoteForWidget(const QVariantMap &widget,
                                                            const QList<DownloadedAsset> &files = {},
                                                            OptionalError *error = nullptr);

    // "Asset", "Gallery" and "Image" records have files to download.
    static bool isAsset(const QVariantMap &widget);
    // "<account URL>/assets/<backpackID>/as/<filename>", identifier and file
    // name each escaped as one path segment; empty for records without files.
    static QUrl assetURLForWidget(const QVariantMap &widget, const QUrl &accountURL);

    // NotebookNames' own, for the importer's callers.
    static QString fixupNotebookTitle(const QString &title) { return NotebookNames::fixupNotebookTitle(title); }
    static QString notebookStackName(const QString &sitename) { return NotebookNames::notebookStackName(sitename); }

    // A note title within the service's limits; an empty one becomes the
    // next "Untitled Note - %d".
    QString noteTitle(const QString &title);

private:
    std::function<bool()> m_isCancelled;
    qint64 m_untitledCount = 0;

    bool stopped() const { return m_isCancelled && m_isCancelled(); }
    std::shared_ptr<ravadido::RURUResource> resourceForFile(const DownloadedAsset &file, OptionalError *error);
};
