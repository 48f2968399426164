#include "tests/support/FileSizeLimit.h"

namespace lianbu::test {

FileSizeLimit::FileSizeLimit(qint64 bytes)
{
    struct sigaction ignore
    {};
    ignore.sa_handler = SIG_IGN;
    if (sigaction(SIGXFSZ, &ignore, &m_previousAction) != 0)
        return;
    if (getrlimit(RLIMIT_FSIZE, &m_previous) != 0)
        return;
    struct rlimit limited = m_previous;
    limited.rlim_cur = rlim_t(bytes);
    m_valid = setrlimit(RLIMIT_FSIZE, &limited) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (m_valid)
        setrlimit(RLIMIT_FSIZE, &m_previous);
    sigaction(SIGXFSZ, &m_previousAction, nullptr);
}

} // namespace lianbu::test
