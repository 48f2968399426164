#pragma once

// Helpers of the upgrade component's tests: answering the component's own modal windows
// (ask window, password window) while they are open, and information files served by a
// scripted server.

#include "TestHttpServer.h"

#include "platform/Gbk.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace lianbu::test {

// Watches for a modal window of class T and hands it to `act` (which answers it) each time
// one opens, for as long as the object lives. Records how many were answered.
template <class T>
class ModalAnswerer
{
public:
    explicit ModalAnswerer(std::function<void(T *)> act)
        : m_act(std::move(act))
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *modal = qobject_cast<T *>(QApplication::activeModalWidget());
            if (!modal || modal == m_last)
                return;
            m_last = modal;
            ++m_count;
            m_act(modal);
        });
        m_timer.start();
    }
    int count() const { return m_count; }

private:
    std::function<void(T *)> m_act;
    QTimer m_timer;
    QPointer<T> m_last;
    int m_count = 0;
};

// Keeps a test bounded: a modal window nobody answers is closed after a while (and counted),
// instead of blocking the test for ever.
class ModalWatchdog
{
public:
    explicit ModalWatchdog(int patienceMs = 5000)
        : m_patience(patienceMs)
    {
        m_timer.setInterval(50);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal != m_seen) {
                m_seen = modal;
                m_since.start();
                return;
            }
            if (modal && m_since.elapsed() > m_patience) {
                ++m_closed;
                if (auto *dialog = qobject_cast<QDialog *>(modal))
                    dialog->reject();
                else
                    modal->close();
                m_seen = nullptr;
            }
        });
        m_timer.start();
    }
    // How many unanswered windows had to be closed.
    int closed() const { return m_closed; }

private:
    int m_patience;
    QTimer m_timer;
    QPointer<QWidget> m_seen;
    QElapsedTimer m_since;
    int m_closed = 0;
};

// A server answering every request for `path` with the information file `text` (GBK bytes),
// and other paths with what `other` returns (404 when not set).
inline HttpResponse textResponse(const QByteArray &body)
{
    HttpResponse r;
    r.body = body;
    r.headers.append(qMakePair(QByteArray("Content-Type"), QByteArray("text/plain")));
    return r;
}

inline HttpResponse notFound()
{
    HttpResponse r;
    r.status = 404;
    r.body = "<html>missing</html>";
    return r;
}

// A stand-in for the program: records its version and arguments (written atomically so a
// reader never sees half), then reports a good start to the updater as the program does.
inline QByteArray programScript(const QByteArray &version)
{
    return "#!/bin/sh\n"
           "d=$(dirname \"$0\")\n"
           "printf '%s %s\\n' "
           + version
           + " \"$*\" > \"$d/marker.tmp\" && mv \"$d/marker.tmp\" \"$d/marker.txt\"\n"
             "echo $$ > \"$d/upgrade.uSTARTED\"\n";
}

inline void writeFile(const QString &path, const QByteArray &bytes, bool executable = false)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
    f.close();
    if (executable)
        QVERIFY(f.setPermissions(f.permissions() | QFileDevice::ExeOwner | QFileDevice::ReadOwner));
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace lianbu::test
