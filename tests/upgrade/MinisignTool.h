#pragma once

// The publisher's side in tests: the real minisign tool (Debian package "minisign") makes a key
// pair and signs files, exactly as a publisher would.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace lianbu::test {

class MinisignTool
{
public:
    // Makes a fresh key pair without a password. ok() is false when minisign is not installed.
    MinisignTool()
    {
        m_ok = m_dir.isValid()
               && run({QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"), pubPath(),
                       QStringLiteral("-s"), secPath()});
    }

    bool ok() const { return m_ok; }
    QString error() const { return m_error; }
    QString pubPath() const { return m_dir.filePath(QStringLiteral("test.pub")); }
    QString secPath() const { return m_dir.filePath(QStringLiteral("test.sec")); }

    // The public key file's text and its base64 line alone (what the build setting holds).
    QString publicKeyFile() const
    {
        QFile f(pubPath());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    QString publicKeyLine() const { return publicKeyFile().trimmed().section(QLatin1Char('\n'), -1); }

    // The .minisig of data. legacy: the whole file is signed ("Ed") instead of its hash ("ED").
    QByteArray sign(const QByteArray &data, const QString &trustedComment = QStringLiteral("test release"),
                    bool legacy = false)
    {
        const QString file = m_dir.filePath(QStringLiteral("data%1").arg(++m_counter));
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
            return {};
        f.close();
        QStringList args{QStringLiteral("-S"), QStringLiteral("-s"), secPath(), QStringLiteral("-m"), file,
                         QStringLiteral("-t"), trustedComment};
        if (legacy)
            args << QStringLiteral("-l");
        if (!run(args))
            return {};
        QFile sig(file + QStringLiteral(".minisig"));
        return sig.open(QIODevice::ReadOnly) ? sig.readAll() : QByteArray();
    }

private:
    bool run(const QStringList &args)
    {
        QProcess p;
        p.start(QStringLiteral("minisign"), args);
        if (!p.waitForStarted(5000)) {
            m_error = QStringLiteral("minisign cannot be started (install the package minisign)");
            return false;
        }
        p.closeWriteChannel();
        if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            m_error = QString::fromUtf8(p.readAllStandardError());
            return false;
        }
        return true;
    }

    QTemporaryDir m_dir;
    bool m_ok = false;
    QString m_error;
    int m_counter = 0;
};

} // namespace lianbu::test
