#pragma once

#include "foundation/Error.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace SyncHttp {
struct Response;
} // namespace SyncHttp

// What every Backpack asset downloader shares: where the assets go, the one
// rule for names taken off the network, and which answer is an asset.
namespace BackpackAssets {

// The service's largest resource (premium): a larger asset is refused
// before it is read.
inline constexpr qint64 kMaxAssetBytes = 52428800;

// The user's data folder: XDG_DATA_HOME when it is absolute (a relative one
// is ignored, as the XDG base directory rules ask), else .local/share in
// the home folder: HOME when it is absolute and not "/" once its "." and
// ".." are taken ("/.." is "/"), else the account's home in the password
// database on the same terms. Empty when there is no home: a folder built
// on it would lie at the top of the file system.
QString dataFolder();

// The program's folder in the user's data folder, and the asset folder in
// it; empty when there is no data folder.
QString applicationSupportPath(const QString &program);
QString assetsPath(const QString &program);
// What the user can do when there is no data folder.
QString noDataFolderSuggestion();
// The refusal of a download of `url` when there is no data folder.
Error noDataFolderError(const QUrl &url);

// Creates a folder and its parents, readable by the user alone; below the
// asset folder `root` a link is replaced by a folder, never followed.
// Without a root (no data folder) nothing is made. False, with errno telling
// why, when the folder is not there afterwards; the failure is also logged.
bool ensurePath(const QString &path, const QString &root);

// One safe path component from a name the network gave, one to one: a name
// that needs no change keeps itself; separators and control characters
// become "_" (so that none leads out of its folder), "." and ".." become "_"
// and "__", and a name over 255 bytes of UTF-8 (NAME_MAX; 90 Chinese
// characters suffice) is cut at a character's start, keeping its extension;
// each changed name carries a short hash of the name it came from before
// its extension, so that "k/1" and "k_1" never share a file or folder. A
// name that already ends the way a hash ends a name ("-" and 8 hex digits
// before its extension) carries one of its own too. Two changed names may
// still share a hash: the importer checks a page's names before using them.
// Nothing for "". Only the local file takes this name.
std::optional<QString> safePathComponent(const QString &name);

// An Error in the URL-loading domain that names the URL.
Error urlError(long code, const QString &description, const QUrl &url);

// Whether an answer to an asset download is the asset: a 2xx that is not
// the sign-in page. Decided on the status and headers alone, before the
// body is kept.
bool isAsset(const SyncHttp::Response &response);
// The error for an answer that is no asset: its status, or the sign-in page,
// for the file `fileName` at `url`.
Error notAnAssetError(const SyncHttp::Response &response, const QUrl &url, const QString &fileName);

} // namespace BackpackAssets
