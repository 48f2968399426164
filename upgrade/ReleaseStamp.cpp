#include "upgrade/ReleaseStamp.h"

#include <cstring>

#ifndef LIANBU_RELEASE_DATE
#error "LIANBU_RELEASE_DATE must be set by the build"
#endif
#ifndef LIANBU_UPGRADE_PUBLIC_KEY
#define LIANBU_UPGRADE_PUBLIC_KEY ""
#endif

// Whole objects with external linkage, so the stamps stay in the executable byte for byte where
// the updater and the publisher's script look for them.
extern const char lianbuReleaseStamp[];
extern const char lianbuKeyStamp[];
const char lianbuReleaseStamp[] = "LIANBU-RELEASE=" LIANBU_RELEASE_DATE ";";
const char lianbuKeyStamp[] = "LIANBU-UPGRADE-KEY=" LIANBU_UPGRADE_PUBLIC_KEY ";";

namespace lianbu::upgrade {

namespace {

QString stampValue(const char *stamp)
{
    const char *value = std::strchr(stamp, '=') + 1;
    return QString::fromLatin1(value, qsizetype(std::strlen(value)) - 1);
}

} // namespace

QString builtRelease()
{
    static_assert(sizeof(lianbuReleaseStamp) == sizeof("LIANBU-RELEASE=MM/DD/YYYY;"),
                  "LIANBU_RELEASE_DATE must be MM/DD/YYYY");
    return stampValue(lianbuReleaseStamp);
}

QString builtPublicKey()
{
    return stampValue(lianbuKeyStamp);
}

} // namespace lianbu::upgrade
