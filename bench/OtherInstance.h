#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

#include <optional>

namespace lianbu::bench {

// Another program instance on the same register, in a process of its own: the benchmark starts
// its own executable again with `--other-instance ADDRESS`, which opens the register through the
// program's data module (as the program does at start) and writes what it is told, one command a
// line on its standard input, answering "ok" once the write is committed:
//   add        one customer through the customer store, as 新增 does
//   change N   the first N customers changed in one transaction (a column of their own)
//   add N      N customers added in one transaction
//   clean      every customer it added deleted in one transaction
// Each of those is another process's write, so the watcher of the first instance sees exactly
// what it sees of another PC.
class OtherInstance
{
public:
    // Starts the process and waits until its register is open (false from started() otherwise).
    explicit OtherInstance(const QString &address);
    ~OtherInstance();
    bool started() const { return m_started; }
    // Hands the command over and returns at once.
    void send(const QByteArray &command);
    // Waits (not in the event loop) until the process answered the last command; false after
    // 60 s or when it answered with an error (written to stderr).
    bool awaitAnswer();

private:
    QProcess m_process;
    bool m_started = false;
};

// In the process started by OtherInstance: runs it and returns its exit code; nullopt when the
// command line is not that of another instance.
std::optional<int> runOtherInstance(int argc, char **argv);

} // namespace lianbu::bench
