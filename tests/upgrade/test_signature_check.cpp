// Signatures made by the real minisign tool are accepted exactly when file, trusted comment and
// key all fit.
#include "tests/upgrade/MinisignTool.h"
#include "updater/Release.h"
#include "upgrade/SignatureCheck.h"

#include <QTemporaryDir>
#include <QtTest>

#include <sodium.h>

using namespace lianbu::upgrade;
namespace updater = lianbu::updater;
using lianbu::test::MinisignTool;

class TestSignatureCheck : public QObject
{
    Q_OBJECT

    MinisignTool m_publisher;

private slots:
    void initTestCase() { QVERIFY2(m_publisher.ok(), qPrintable(m_publisher.error())); }

    void publicKeyForms()
    {
        const auto fromFile = parsePublicKey(m_publisher.publicKeyFile());
        const auto fromLine = parsePublicKey(m_publisher.publicKeyLine());
        QVERIFY(fromFile && fromLine);
        QCOMPARE(fromFile->key, fromLine->key);
        // minisign names the key by its id in the file's comment, as a number without leading
        // zeros (one key in sixteen has one).
        QVERIFY(m_publisher.publicKeyFile()
                    .trimmed()
                    .section(QLatin1Char('\n'), 0, 0)
                    .endsWith(QLatin1Char(' ') + keyIdText(*fromLine)));
        // A key minisign made, and the id it printed for it.
        const auto leadingZero =
            parsePublicKey(QStringLiteral("RWTKAZW6DnDsBYNtrWQiGqfqfN/H0nsHyTK/RPHNot2rpeJGOKvxipCI"));
        QVERIFY(leadingZero);
        QCOMPARE(keyIdText(*leadingZero), QStringLiteral("5EC700EBA9501CA"));
        QVERIFY(!parsePublicKey(QString()));
        QVERIFY(!parsePublicKey(QStringLiteral("RWQ")));
        QVERIFY(!parsePublicKey(m_publisher.publicKeyLine().chopped(4)));
    }

    void validAndTamperedData()
    {
        const auto key = parsePublicKey(m_publisher.publicKeyLine());
        QVERIFY(key);
        const QByteArray data = "#date=01/01/2030\r\n#url1=https://example.org/lianbu\r\n";
        // Only prehashed signatures count: a legacy one is refused even when it is genuine.
        QCOMPARE(verifySignature(data, m_publisher.sign(data, QStringLiteral("x"), true), *key).result,
                 SignatureResult::Malformed);
        {
            const QByteArray sig = m_publisher.sign(data, QStringLiteral("lianbu 2.0 发布"));
            QVERIFY(!sig.isEmpty());
            const Verification ok = verifySignature(data, sig, *key);
            QCOMPARE(ok.result, SignatureResult::Valid);
            QCOMPARE(ok.trustedComment, QStringLiteral("lianbu 2.0 发布"));

            QByteArray changed = data;
            changed[6] = '2';
            QCOMPARE(verifySignature(changed, sig, *key).result, SignatureResult::BadSignature);
            QCOMPARE(verifySignature(data + ' ', sig, *key).result, SignatureResult::BadSignature);

            QByteArray comment = sig;
            comment.replace("lianbu 2.0", "lianbu 9.9");
            QCOMPARE(verifySignature(data, comment, *key).result, SignatureResult::BadTrustedComment);
        }
        QCOMPARE(verifySignature(data, QByteArray(), *key).result, SignatureResult::Malformed);
        QCOMPARE(verifySignature(data, "untrusted comment: x\nAAAA\ntrusted comment: y\nAAAA\n", *key).result,
                 SignatureResult::Malformed);
        QCOMPARE(verifySignature(data, QByteArray(kMaxSignatureFileSize + 1, 'x'), *key).result,
                 SignatureResult::Malformed);
    }

    void otherKeyIsRefused()
    {
        MinisignTool attacker;
        QVERIFY2(attacker.ok(), qPrintable(attacker.error()));
        const auto trusted = parsePublicKey(m_publisher.publicKeyLine());
        const QByteArray data = "#url=https://evil.example/lianbu";
        QCOMPARE(verifySignature(data, attacker.sign(data), *trusted).result, SignatureResult::UnknownKey);

        // The attacker's signature relabelled with the trusted key's id still fails.
        QByteArray forged = attacker.sign(data);
        QList<QByteArray> lines = forged.split('\n');
        QByteArray raw = QByteArray::fromBase64(lines[1]);
        raw.replace(2, 8, QByteArray(reinterpret_cast<const char *>(trusted->keyId.data()), 8));
        lines[1] = raw.toBase64();
        QCOMPARE(verifySignature(data, lines.join('\n'), *trusted).result, SignatureResult::BadSignature);
    }

    // A prehashed signature relabelled as legacy would make the signed 64-byte BLAKE2b value of a
    // file pass as a file of its own. Both checkers (the program's and the updater's) refuse it.
    void relabelledSignatureIsRefused()
    {
        const auto key = parsePublicKey(m_publisher.publicKeyLine());
        const QByteArray data = "the publisher's real file";
        const QByteArray sig = m_publisher.sign(data);
        QByteArray hash(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
        crypto_generichash(reinterpret_cast<unsigned char *>(hash.data()), std::size_t(hash.size()),
                           reinterpret_cast<const unsigned char *>(data.constData()), std::size_t(data.size()), nullptr,
                           0);
        QList<QByteArray> lines = sig.split('\n');
        QByteArray raw = QByteArray::fromBase64(lines[1]);
        raw[1] = 'd'; // "ED" -> "Ed"
        lines[1] = raw.toBase64();
        const QByteArray relabelled = lines.join('\n');
        QCOMPARE(verifySignature(hash, relabelled, *key).result, SignatureResult::Malformed);

        std::string reason;
        const std::string keyLine = m_publisher.publicKeyLine().toStdString();
        QVERIFY(updater::verifyPrehashedSignature(data.toStdString(), sig.toStdString(), keyLine, reason));
        QVERIFY(!updater::verifyPrehashedSignature(hash.toStdString(), relabelled.toStdString(), keyLine, reason));
        QVERIFY(!updater::verifyPrehashedSignature(data.toStdString() + "x", sig.toStdString(), keyLine, reason));
        MinisignTool other;
        QVERIFY(
            !updater::verifyPrehashedSignature(data.toStdString(), other.sign(data).toStdString(), keyLine, reason));
        QByteArray comment = sig;
        comment.replace("test release", "test releasX");
        QVERIFY(!updater::verifyPrehashedSignature(data.toStdString(), comment.toStdString(), keyLine, reason));
    }

    void fileOnDisk()
    {
        QTemporaryDir dir;
        const auto key = parsePublicKey(m_publisher.publicKeyLine());
        QByteArray big(3 * 65536 + 17, 'z');
        big[70000] = 'y';
        const QString path = dir.filePath(QStringLiteral("lianbu.uTMP"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(big);
        f.close();
        const QByteArray sig = m_publisher.sign(big);
        QCOMPARE(verifyFileSignature(path, sig, *key).result, SignatureResult::Valid);
        QCOMPARE(verifyFileSignature(path, m_publisher.sign(big, QStringLiteral("x"), true), *key).result,
                 SignatureResult::Malformed);
        big[131072] = 'q';
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(big);
        f.close();
        QCOMPARE(verifyFileSignature(path, sig, *key).result, SignatureResult::BadSignature);
        QCOMPARE(verifyFileSignature(dir.filePath(QStringLiteral("missing")), sig, *key).result,
                 SignatureResult::BadSignature);
    }
};

QTEST_GUILESS_MAIN(TestSignatureCheck)
#include "test_signature_check.moc"
