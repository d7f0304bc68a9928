#pragma once

#include "foundation/Error.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <utility>

class WSKOAuthAuthentication;

// One import into a Ravadido account at a time, across every Leafhaul the
// user runs on this machine: two at once would each add the page's notes
// before deleting the notes they found, and every note would stand twice.
// The account is known by the NoteStore URL its token came with (the
// authentication carries no other name of it that a stored token keeps);
// accounts on one server share that URL and so a lock, which can only
// refuse an import, never double one.
//
// The lock is an exclusive flock on a file in the user's data folder (the
// same for every session of the user, whatever its environment), so it ends
// with its holder, also when the process is killed; it is per open file
// description, so it excludes a second holder in the same process too. The
// holder removes the file as it lets go: a lock is taken only on the file
// that still stands at the name, never on one removed meanwhile.
class ImportLock
{
public:
    // Takes the account's lock without waiting; nullptr with the error when
    // another import holds it or its file cannot be opened.
    static std::unique_ptr<ImportLock> take(const WSKOAuthAuthentication &authentication,
                                            OptionalError *error = nullptr);
    // The file whose lock is the account's; empty without a data folder.
    static QString filePath(const WSKOAuthAuthentication &authentication);
    ~ImportLock();
    ImportLock(const ImportLock &) = delete;
    ImportLock &operator=(const ImportLock &) = delete;

private:
    ImportLock(int fd, QByteArray path) : m_fd(fd), m_path(std::move(path)) {}

    int m_fd;
    QByteArray m_path;
};
