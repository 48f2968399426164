#include "platform/AppInfo.h"

namespace lianbu {

QString applicationTitle()
{
    return QStringLiteral("联簿宝");
}

QString applicationVersion()
{
    return QStringLiteral(LIANBU_VERSION);
}

} // namespace lianbu
