#pragma once

#include "foundation/Error.h"

#include <QString>

// What one gallery's note may hold, judged on the count of its images alone,
// so that a gallery too large is refused before any image is downloaded: no
// more than the service's resources a note (a larger one would download and
// upload every image, only to be refused), and few enough that each image's
// file can stay open, locked, until the note is sent, beside the descriptors
// the import needs anyway.
namespace GalleryLimits {

// Descriptors an import needs beside a note's files: the upload's
// connections, Qt's own, the log.
inline constexpr qsizetype kSpareDescriptors = 64;

// Nothing when `imageCount` images fit, under the soft limit of open files
// the process has now; else the error that names the gallery and the limit.
OptionalError refusal(const QString &galleryName, qsizetype imageCount);

} // namespace GalleryLimits
