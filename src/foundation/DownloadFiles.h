#pragma once

#include <QString>

// The files of the downloads SyncHttp makes (Request::downloadPath): a body
// lands in a partial file beside its destination, ".<name>.partial-XXXXXX"
// (0600), and takes the destination's name only once whole, by rename(2):
// whatever stood there keeps its name and its bytes until that moment, and a
// reader holding it open keeps reading the old file afterwards. A download
// never writes into, nor removes, the file at its destination. Partial files
// are removed when their exchange fails or is cancelled, and at the exit of
// the process; one left over with the destination's name (a crash, a kill)
// is written over instead of a new one, the others are removed. A download
// never writes into a file another holder has locked: it takes one up only
// with flock(LOCK_EX | LOCK_NB) on it, else it writes a new file. An answer
// the caller turns down (Request::acceptDownload) writes nothing at all.

namespace SyncHttp {

// Removes the partial files of the downloads under way (also done at exit).
void removePartialDownloads();

// Creates a download folder and its missing parents, each new one 0700 from
// the start; true when the folder exists afterwards. With `root` (a folder
// above `path`), every level below the root must be a folder of its own: a
// symbolic link there is replaced by a new folder, never followed, and
// anything else that is not a folder fails. On failure errno tells why.
bool makePrivateFolder(const QString &path, const QString &root = {});

} // namespace SyncHttp
