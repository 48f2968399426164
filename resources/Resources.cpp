#include "resources/Resources.h"

#include <QtGlobal>

static void initLianbuResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace lianbu {

void initResources()
{
    initLianbuResources();
}

} // namespace lianbu
