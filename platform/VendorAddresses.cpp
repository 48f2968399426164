#include "platform/VendorAddresses.h"

namespace lianbu {

QString vendorWebAddress()
{
    return QStringLiteral("http://www.lianbubao.example");
}
QString supportPageAddress()
{
    return QStringLiteral("http://www.lianbubao.example/support.html");
}
QString homePageAddress()
{
    return QStringLiteral("http://www.lianbubao.example/");
}
QString vendorMailAddress()
{
    return QStringLiteral("support@lianbubao.example");
}

} // namespace lianbu
