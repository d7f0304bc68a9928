#include "app/Ravadido.h"

#include "foundation/SystemLog.h"
#include "ravadido/ThriftHttpTransport.h"

#include <thrift/TApplicationException.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TTransportException.h>

#include <QUrl>

using namespace ravadido;
using apache::thrift::TApplicationException;
using apache::thrift::TException;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::transport::TTransportException;

namespace {

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

// The service's own words about a not-found exception, when it sent any.
QString notFoundMessage(const RURUNotFoundException &e)
{
    QStringList parts;
    if (e.identifierIsSet() && e.identifier())
        parts << qs(*e.identifier());
    if (e.keyIsSet() && e.key())
        parts << qs(*e.key());
    if (parts.isEmpty())
        return {};
    return localizedString("Not found: %1").arg(parts.join(QStringLiteral(" ")));
}

// What failed, for an exception whose record carries no words of the
// service's: its reason would read "unknown".
QString failureReason(const std::exception_ptr &exception, const Ravadido::ExceptionText &text)
{
    if (!text.message.isEmpty())
        return text.message;
    try {
        std::rethrow_exception(exception);
    } catch (const RURUUserException &e) {
        const QString code = QString::number(e.errorCode());
        if (e.parameterIsSet() && e.parameter())
            return localizedString("Ravadido refused %1 with error code %2.").arg(qs(*e.parameter()), code);
        return localizedString("Ravadido refused the request with error code %1.").arg(code);
    } catch (const RURUSystemException &e) {
        return localizedString("Ravadido failed with error code %1.").arg(e.errorCode());
    } catch (const RURUNotFoundException &) {
        return localizedString("Ravadido did not find what the request names.");
    } catch (...) {
    }
    return text.reason;
}

} // namespace

bool Ravadido::connectWithAuthentication(const WSKOAuthAuthentication &authentication)
{
    m_authentication = authentication;
    m_authToken = authentication.accessToken().toStdString();
    setupNoteStore();
    return m_noteStore != nullptr && !m_authToken.empty();
}

void Ravadido::setupNoteStore()
{
    if (m_noteStore || !m_authentication)
        return;
    const QUrl url(m_authentication->userEmail(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty()
        || (url.scheme() != QLatin1String("https") && url.scheme() != QLatin1String("http")))
        return;
    m_noteStore = std::make_unique<RURUNoteStoreClient>(httpBinaryProtocol(url, m_isCancelled));
}

Ravadido::ExceptionText Ravadido::describeException(const std::exception_ptr &exception)
{
    try {
        std::rethrow_exception(exception);
    } catch (const RURUUserException &e) {
        return {qs(e.name()), qs(e.reason()), {}};
    } catch (const RURUSystemException &e) {
        QString message;
        if (e.messageIsSet() && e.message())
            message = qs(*e.message());
        return {qs(e.name()), qs(e.reason()), message};
    } catch (const RURUNotFoundException &e) {
        return {qs(e.name()), qs(e.reason()), notFoundMessage(e)};
    } catch (const TTransportException &e) {
        return {QStringLiteral("TTransportException"), QString::fromUtf8(e.what()), {}};
    } catch (const TProtocolException &e) {
        return {QStringLiteral("TProtocolException"), QString::fromUtf8(e.what()), {}};
    } catch (const TApplicationException &e) {
        return {QStringLiteral("TApplicationException"), QString::fromUtf8(e.what()), {}};
    } catch (const TException &e) {
        return {QStringLiteral("TException"), QString::fromUtf8(e.what()), {}};
    } catch (const std::exception &e) {
        return {QStringLiteral("std::exception"), QString::fromUtf8(e.what()), {}};
    } catch (...) {
        return {QStringLiteral("UnknownException"), QStringLiteral("unknown"), {}};
    }
}

Error Ravadido::errorWithRavadidoException(const std::exception_ptr &exception, const QString &description)
{
    long code = 0;
    try {
        std::rethrow_exception(exception);
    } catch (const RURUUserException &e) {
        code = e.errorCode();
    } catch (...) {
    }
    return Error(kLeafhaulErrorDomain, code, description, failureReason(exception, describeException(exception)));
}

template<typename Call, typename LogLine>
std::exception_ptr Ravadido::guarded(Call &&call, LogLine &&logLine)
{
    try {
        if (!m_noteStore)
            throw TTransportException(TTransportException::NOT_OPEN,
                                      localizedString("Not connected to Ravadido.").toStdString());
        call(*m_noteStore);
        return nullptr;
    } catch (...) {
        std::exception_ptr e = std::current_exception();
        ExceptionText text = describeException(e);
        text.reason = failureReason(e, text);
        systemLog(logLine(text, e));
        return e;
    }
}

Ravadido::NotebookPtr Ravadido::createNotebookWithName(const QString &name, const QString &stack, OptionalError *error)
{
    NotebookPtr created;
    const std::exception_ptr e = guarded(
        [&](RURUNoteStoreClient &noteStore) {
            auto notebook = std::make_shared<RURUNotebook>();
            notebook->setName(name.toStdString());
            notebook->setStack(stack.toStdString());
            created = noteStore.createNotebook(m_authToken, notebook);
        },
        [&](const ExceptionText &t, const std::exception_ptr &) {
            return QStringLiteral("Unable to create notebook %1: (%2, %3)").arg(name, t.name, t.reason);
        });
    if (e) {
        setErrorSlot(error, errorWithRavadidoException(e, localizedString("Unable to create notebook %1.").arg(name)));
        return nullptr;
    }
    return created;
}

Ravadido::NotebookPtr Ravadido::notebookWithName(const QString &name, OptionalError *error)
{
    const std::string wanted = name.toStdString();
    NotebookPtr found;
    const std::exception_ptr e = guarded(
        [&](RURUNoteStoreClient &noteStore) {
            for (const NotebookPtr &notebook : noteStore.listNotebooks(m_authToken)) {
                if (notebook && notebook->nameIsSet() && notebook->name() == wanted) {
                    found = notebook;
                    break;
                }
            }
        },
        [&](const ExceptionText &t, const std::exception_ptr &caught) {
            try {
                std::rethrow_exception(caught);
            } catch (const RURUUserException &u) {
                if (u.errorCode() == kRavadidoAuthExpiredCode)
                    return QStringLiteral("Authentication token has expired");
            } catch (...) {
            }
            return QStringLiteral("Unable to get notebooks: (%1, %2)").arg(t.name, t.reason);
        });
    if (e) {
        Error err = errorWithRavadidoException(e, localizedString("Unable to get notebooks."));
        if (err.code == kRavadidoAuthExpiredCode)
            err.localizedDescription = localizedString("Authentication Token has expired.");
        setErrorSlot(error, std::move(err));
        return nullptr;
    }
    return found;
}

Ravadido::NotePtr Ravadido::createNote(const NotePtr &note, OptionalError *error)
{
    NotePtr created;
    const std::exception_ptr e = guarded(
        [&](RURUNoteStoreClient &noteStore) { created = noteStore.createNote(m_authToken, note); },
        [&](const ExceptionText &t, const std::exception_ptr &) {
            return QStringLiteral("Unable to create note: (%1, %2)").arg(t.name, t.reason);
        });
    if (!e)
        return created;

    const ExceptionText text = describeException(e);
    QString description = text.message.isEmpty() ? text.reason : text.message;
    const QString title = note && note->titleIsSet() && note->title() ? qs(*note->title()) : QString();
    try {
        std::rethrow_exception(e);
    } catch (const RURUUserException &u) {
        if (u.parameterIsSet() && u.parameter()) {
            const QString parameter = qs(*u.parameter());
            if (!parameter.contains(QLatin1Char(' ')))
                description =
                    localizedString("Something is wrong with the format of %1 in the note '%2'").arg(parameter, title);
            else
                description = QStringLiteral("Something is wrong with the note '%1'. %2").arg(title, parameter);
        }
    } catch (...) {
    }
    if (description == QLatin1String("unknown"))
        description = localizedString("Unknown. Make sure you haven't exceeded your upload limits.");
    setErrorSlot(error, errorWithRavadidoException(e, description));
    return nullptr;
}

std::optional<std::vector<Ravadido::NotePtr>> Ravadido::notesInNotebook(const NotebookPtr &notebook,
                                                                        OptionalError *error)
{
    // Without a guid the filter would match every notebook, and the caller
    // would delete notes of the whole account.
    if (!notebook || !notebook->guid() || notebook->guid()->empty()) {
        systemLog(QStringLiteral("Error getting notes: notebook without guid"));
        setErrorSlot(error, Error(kLeafhaulErrorDomain, 0, localizedString("Unable to find the notes of the notebook."),
                                  localizedString("The notebook has no identifier.")));
        return std::nullopt;
    }
    std::vector<NotePtr> notes;
    const std::exception_ptr e = guarded(
        [&](RURUNoteStoreClient &noteStore) {
            auto filter = std::make_shared<RURUNoteFilter>();
            filter->setNotebookGuid(*notebook->guid());
            const std::shared_ptr<RURUNoteList> list = noteStore.findNotes(m_authToken, filter, 0, kMaxNotesFound);
            if (list && list->notesIsSet() && list->notes()) {
                for (const NotePtr &note : *list->notes()) {
                    if (notes.size() >= std::size_t(kMaxNotesFound))
                        break;
                    notes.push_back(note);
                }
            }
        },
        [&](const ExceptionText &, const std::exception_ptr &caught) {
            std::string described;
            try {
                std::rethrow_exception(caught);
            } catch (const Record &r) {
                described = r.description();
            } catch (const std::exception &x) {
                described = x.what();
            } catch (...) {
                described = "unknown";
            }
            return QStringLiteral("Error getting notes: %1").arg(qs(described));
        });
    if (e) {
        // A failed search is a failure of the page: without it the page would
        // be imported a second time beside its old notes.
        setErrorSlot(error,
                     errorWithRavadidoException(e, localizedString("Unable to find the notes of the notebook.")));
        return std::nullopt;
    }
    return notes;
}

bool Ravadido::deleteNote(const NotePtr &note, OptionalError *error)
{
    const std::exception_ptr e = guarded(
        [&](RURUNoteStoreClient &noteStore) {
            noteStore.deleteNote(m_authToken, note && note->guid() ? *note->guid() : std::string());
        },
        [&](const ExceptionText &t, const std::exception_ptr &) {
            return QStringLiteral("Unable to delete note: (%1, %2)").arg(t.name, t.reason);
        });
    if (e) {
        setErrorSlot(error, errorWithRavadidoException(e, failureReason(e, describeException(e))));
        return false;
    }
    return true;
}
