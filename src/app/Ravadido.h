#pragma once

#include "app/ErrorDomain.h"
#include "foundation/Error.h"
#include "ravadido/NoteStoreClient.h"
#include "signin/WSKOAuthAuthentication.h"

#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The importer's one connection to the user's Ravadido account for the length
// of one import. It is the only place where Ravadido failures are caught: each
// wrapper logs the exception and turns it into an Error of kLeafhaulErrorDomain
// (code: a user exception's error code, else 0). Not thread-safe; one import
// worker uses it at a time.
class Ravadido
{
public:
    using NotebookPtr = std::shared_ptr<ravadido::RURUNotebook>;
    using NotePtr = std::shared_ptr<ravadido::RURUNote>;

    Ravadido() = default;

    // Builds the NoteStore client once, on the NoteStore URL that came with
    // the access token. No traffic; returns false when the authentication
    // holds no access token or no usable NoteStore URL.
    bool connectWithAuthentication(const WSKOAuthAuthentication &authentication);
    // Ends the call under way, and fails the later ones, once it answers
    // true (any thread may flip what it reads). Set before connecting.
    void setCancellationCheck(std::function<bool()> isCancelled) { m_isCancelled = std::move(isCancelled); }

    const std::optional<WSKOAuthAuthentication> &authentication() const { return m_authentication; }
    QString authToken() const { return QString::fromStdString(m_authToken); }

    // Each returns nothing (false) on failure and fills `error` when given.
    NotebookPtr createNotebookWithName(const QString &name, const QString &stack, OptionalError *error = nullptr);
    // The first listed notebook whose name equals `name` exactly; nullptr
    // without an error when none does.
    NotebookPtr notebookWithName(const QString &name, OptionalError *error = nullptr);
    NotePtr createNote(const NotePtr &note, OptionalError *error = nullptr);
    // At most the first 1000 notes of the notebook.
    std::optional<std::vector<NotePtr>> notesInNotebook(const NotebookPtr &notebook, OptionalError *error = nullptr);
    bool deleteNote(const NotePtr &note, OptionalError *error = nullptr);

    // The error for a caught exception: `description` as the description, the
    // exception's own text as the failure reason.
    static Error errorWithRavadidoException(const std::exception_ptr &exception, const QString &description);

    // Name and reason of a caught exception, as the log lines show them.
    struct ExceptionText
    {
        QString name;
        QString reason; // the exception's reason ("unknown" for the service's own)
        QString message; // the service's message, when it sent one
    };
    static ExceptionText describeException(const std::exception_ptr &exception);

    static constexpr int kMaxNotesFound = 1000;

private:
    void setupNoteStore();
    // Runs one NoteStore call on the client; on an exception (also when not
    // connected) logs `logLine(text, exception)` and returns the exception.
    template<typename Call, typename LogLine>
    std::exception_ptr guarded(Call &&call, LogLine &&logLine);

    std::optional<WSKOAuthAuthentication> m_authentication;
    std::string m_authToken;
    std::function<bool()> m_isCancelled;
    std::unique_ptr<ravadido::RURUNoteStoreClient> m_noteStore;
};
