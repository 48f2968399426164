#pragma once

#include <QtGlobal>

#include <signal.h>
#include <sys/resource.h>

namespace lianbu::test {

// While the object lives, no file this process writes grows past `bytes` (RLIMIT_FSIZE): a
// write beyond fails as on a full disk (EFBIG instead of ENOSPC), and SIGXFSZ is ignored so the
// process goes on. Needs no privileges; files already larger keep their size.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool isValid() const { return m_valid; }

private:
    struct rlimit m_previous
    {};
    struct sigaction m_previousAction
    {};
    bool m_valid = false;
};

} // namespace lianbu::test
