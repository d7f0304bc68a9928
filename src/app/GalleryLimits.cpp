#include "app/GalleryLimits.h"

#include "app/ErrorDomain.h"
#include "ravadido/Limits.h"

#include <sys/resource.h>

namespace GalleryLimits {

OptionalError refusal(const QString &galleryName, qsizetype imageCount)
{
    const qsizetype resourcesMax = ravadido::RURULimitsConstants::RURU_NOTE_RESOURCES_MAX();
    if (imageCount > resourcesMax)
        return Error(kLeafhaulErrorDomain, 0,
                     localizedString("The gallery “%1” has %2 images, more than the %3 a note can hold.")
                         .arg(galleryName, QString::number(imageCount), QString::number(resourcesMax)),
                     {},
                     localizedString("Split the gallery into galleries of %1 images or fewer and import again.")
                         .arg(resourcesMax));
    // Said as such, rather than as a failure of whichever file or socket
    // would find no descriptor left.
    struct rlimit openFiles = {};
    const rlim_t needed = rlim_t(imageCount) + rlim_t(kSpareDescriptors);
    if (::getrlimit(RLIMIT_NOFILE, &openFiles) == 0 && openFiles.rlim_cur != RLIM_INFINITY
        && needed > openFiles.rlim_cur)
        return Error(
            kLeafhaulErrorDomain, 0,
            localizedString("The gallery “%1” has more images (%2) than Leafhaul may keep open at once under "
                            "the limit of %3 open files.")
                .arg(galleryName, QString::number(imageCount), QString::number(qulonglong(openFiles.rlim_cur))),
            {},
            localizedString("Raise the limit of open files to %1 or more and import again.").arg(qulonglong(needed)));
    return std::nullopt;
}

} // namespace GalleryLimits
