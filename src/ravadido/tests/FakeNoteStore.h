#pragma once

#include "testsupport/LocalService.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QUrl>

// The fake NoteStore (fake_notestore.py) as a test sees it: a real service
// on 127.0.0.1 speaking the importer's five calls, with notebooks and notes
// in memory, a log of the requests, and faults on demand. Control requests
// go through the program's own HTTP layer (TLS verified when the fake runs
// with TLS: start() then trusts the shared test CA).
//
// Like the service, createNote refuses a note whose content is not an
// en-note document, whose en-media hashes do not all name one of its
// resources, or whose resource hash or size does not match the body
// (RURUUserException: code 11 for the content, 1 for a bad value, 5 for a
// missing one; the parameter names the field, e.g. "Note.title").
class FakeNoteStore
{
public:
    struct Options
    {
        bool tls = false;
        // When set, every call with another token fails with
        // RURUUserException code 9 (expired token), parameter
        // "authenticationToken".
        QString token;
    };

    FakeNoteStore() = default;
    ~FakeNoteStore() = default;
    FakeNoteStore(const FakeNoteStore &) = delete;
    FakeNoteStore &operator=(const FakeNoteStore &) = delete;

    // Starts the fake; false with errorString() when it does not come up.
    bool start(const Options &options);
    bool start() { return start(Options{}); }
    void stop() { m_service.stop(); }
    QString errorString() const { return m_error; }
    // The fake's stderr so far (its request log and tracebacks).
    QString log() { return m_service.log(); }

    // Where the client posts its calls (any path is the NoteStore).
    QUrl noteStoreUrl() const;

    // {"notebooks": [{"guid", "name", "stack", "updateSequenceNum"}...],
    //  "notes": [{"guid", "title", "content", "notebookGuid", "created",
    //    "updated", "active", "updateSequenceNum", "resources": [{"guid",
    //    "mime", "data": {"size", "bodyHash" (hex), "body" (base64)},
    //    "recognition": {...}}]}...]}. Deleted notes stay, inactive.
    QJsonObject state();
    QJsonArray notebooks() { return state().value(QStringLiteral("notebooks")).toArray(); }
    QJsonArray notes() { return state().value(QStringLiteral("notes")).toArray(); }
    // The NoteStore requests so far: [{"path", "call", "contentType",
    // "body" (hex)}...].
    QJsonArray requests();

    // Puts notebooks and notes in place without a call; returns their guids.
    QString addNotebook(const QString &name, const QString &stack = {});
    QStringList addNotes(const QString &notebookGuid, const QStringList &titles);

    // The next `times` calls named `call` ("*": any) answer with the fault
    // instead. `fault` holds "mode" and the mode's values:
    //   userException {errorCode, parameter}, systemException {errorCode,
    //   message}, notFoundException {identifier, key}, applicationException
    //   {type, message}, status {status, body}, close, closeAfterReply,
    //   truncate {keep}, hostileCount, hostileLength, raw {status, body
    //   (hex), contentType}, sized {size}, closeBeforeBody, pauseBody
    //   {after}, trickle {in, every, seconds}, silent {seconds} (see
    //   fake_notestore.py).
    void injectFault(const QString &call, QJsonObject fault, int times = 1);
    // Calls that a pauseBody fault holds, or held, halfway through their body.
    int pausedCalls() { return state().value(QStringLiteral("paused")).toInt(); }
    // Reads on the bodies that pauseBody holds.
    void resume() { control("POST", QStringLiteral("resume")); }

    // The token every call must carry; an empty one accepts any.
    void setToken(const QString &token);
    // Forgets notebooks, notes, requests and faults; the token goes back to
    // the one it started with.
    void reset();

private:
    QJsonValue control(const QByteArray &method, const QString &what, const QJsonObject &body = {});

    LocalService m_service;
    bool m_tls = false;
    QString m_error;
};
