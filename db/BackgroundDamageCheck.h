#pragma once

#include <QObject>
#include <QString>

#include <memory>

class QThread;

namespace lianbu::db {

// Reads a whole register file for damage (SQLite's quick check) on a thread of its own, through
// a read-only connection, while the program works on the file: a large file takes seconds to
// read, too long to hold up the start. The read changes nothing and does not hold up writers.
class BackgroundDamageCheck : public QObject
{
    Q_OBJECT

public:
    // Starts at once.
    explicit BackgroundDamageCheck(const QString &path, QObject *parent = nullptr);
    // Stops a read still running and waits for the thread; finished is then not emitted.
    ~BackgroundDamageCheck() override;

signals:
    // The read is over: `problem` is "" for a sound file, else the Chinese text for the operator.
    // A read that could not be made (the file busy or gone) reports nothing: it is no proof of
    // damage.
    void finished(const QString &problem);

public:
    struct Shared; // what the reading thread and the object share

private:
    std::shared_ptr<Shared> m_shared;
    QThread *m_thread = nullptr;
};

} // namespace lianbu::db
