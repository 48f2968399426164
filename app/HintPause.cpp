#include "app/HintPause.h"

#include <QApplication>
#include <QProxyStyle>

namespace lianbu {
namespace {

int g_hintPause = -1; // -1: the style's own delay

class HintPauseStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_ToolTip_WakeUpDelay && g_hintPause >= 0)
            return g_hintPause;
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void setHintPause(int milliseconds)
{
    g_hintPause = milliseconds;
    // The application's style is replaced once; later calls only change the figure.
    if (!dynamic_cast<HintPauseStyle *>(QApplication::style()))
        QApplication::setStyle(new HintPauseStyle);
}

int hintPause()
{
    return QApplication::style()->styleHint(QStyle::SH_ToolTip_WakeUpDelay);
}

} // namespace lianbu
