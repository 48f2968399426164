#pragma once

#include "platform/Shell.h"

#include <QList>
#include <QUrl>

namespace lianbu::test {

// A shell that starts nothing: it records what the program asked to open.
class RecordingShell final : public ShellService
{
public:
    bool open(const QUrl &target) override
    {
        opened.append(target);
        return result;
    }

    QList<QUrl> opened;
    bool result = true; // what the "desktop" answers
};

} // namespace lianbu::test
