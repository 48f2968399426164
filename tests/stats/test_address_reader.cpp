// The province and city read from the beginning of an address: real-world shapes, names that only
// look like places, and readings of an address's first characters that must agree with the whole.
#include "stats/AddressReader.h"
#include "stats/Regions.h"

#include <QFile>
#include <QSet>
#include <QtTest>

using namespace lianbu::stats;

namespace {

struct Sample
{
    QString address;
    Place expected;
};

std::vector<Sample> samples()
{
    QFile file(QStringLiteral(LIANBU_ADDRESS_SAMPLES));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", LIANBU_ADDRESS_SAMPLES);
    std::vector<Sample> result;
    const auto dash = [](const QString &s) { return s == u"-" ? QString() : s; };
    for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n')) {
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        const QStringList fields = line.split(u'\t');
        if (fields.size() != 3)
            qFatal("bad sample line: %s", qPrintable(line));
        result.push_back({fields[0], {dash(fields[1]), dash(fields[2])}});
    }
    return result;
}

QString describe(const Place &p)
{
    return (p.province.isEmpty() ? QStringLiteral("未识别") : p.province) + u'/' + p.city;
}

} // namespace

class TestAddressReader : public QObject
{
    Q_OBJECT

private slots:
    void handMadeAddressesAreReadAsPeopleMeanThem()
    {
        const auto all = samples();
        QVERIFY(all.size() >= 200);
        int right = 0;
        QStringList wrong;
        for (const Sample &s : all) {
            const Place got = readAddress(s.address).place;
            if (got == s.expected)
                ++right;
            else
                wrong << s.address + QStringLiteral(": ") + describe(got) + QStringLiteral(" instead of ")
                             + describe(s.expected);
        }
        if (!wrong.isEmpty())
            qWarning().noquote() << wrong.join(u'\n');
        // At least 99 % of them.
        QVERIFY2(right * 100 >= int(all.size()) * 99, qPrintable(wrong.join(u'\n')));
    }

    void theBeginningOfAnAddressSaysWhenItIsEnough()
    {
        // What the counts rely on: a reading of the first characters that says it is complete is
        // the reading of the whole address.
        int decidedEarly = 0;
        for (const Sample &s : samples()) {
            const Place whole = readAddress(s.address).place;
            for (qsizetype n = 0; n < s.address.size(); ++n) {
                const AddressReading part = readAddress(QStringView(s.address).left(n), false);
                if (part.needsMore)
                    continue;
                QVERIFY2(part.place == whole,
                         qPrintable(s.address.left(n) + QStringLiteral(" read as ") + describe(part.place)
                                    + QStringLiteral(" but ") + s.address + QStringLiteral(" as ") + describe(whole)));
                if (n <= 8)
                    ++decidedEarly;
                break;
            }
        }
        // Most addresses are placed by their first eight characters, so the counts rarely need more.
        QVERIFY(decidedEarly > 150);
    }

    void shortFormsAndLookalikesAreReadOnlyWhenUnambiguous()
    {
        const struct
        {
            const char16_t *address;
            const char16_t *province;
            const char16_t *city;
        } cases[] = {
            {u"粤广州市番禺区", u"广东省", u"广州市"}, // a one-character form with its city
            {u"粤语培训中心", u"", u""},               // alone it is just a character
            {u"鄂尔多斯市东胜区", u"内蒙古自治区", u"鄂尔多斯市"},
            {u"黔江区城东街道", u"重庆市", u"重庆市"},
            {u"河北区金纬路", u"天津市", u"天津市"},         // not the province 河北
            {u"海南州贵德县", u"青海省", u"海南藏族自治州"}, // not the province 海南
            {u"海南海口市美兰区", u"海南省", u"海口市"},
            {u"吉林市昌邑区", u"吉林省", u"吉林市"},
            {u"宁波市海曙区", u"浙江省", u"宁波市"}, // not 宁 for 宁夏
            {u"台州市路桥区", u"浙江省", u"台州市"}, // not 台 for 台湾
            {u"巴州区江北大道", u"", u""},           // the district of 巴中, not 巴音郭楞's 巴州
            {u"兴安县兴安镇", u"", u""},             // a county of 桂林, not 兴安盟
            {u"延安路1200号", u"", u""},
            {u"中山北路88号", u"", u""}, // streets named after a city, not the city
            {u"中山东一路18号", u"", u""},
            {u"北京西路1068号", u"", u""},
            {u"中山大道西238号", u"", u""},
            {u"中山石岐区孙文中路", u"广东省", u"中山市"},
            {u"北京东城区王府井大街", u"北京市", u"北京市"},
            {u"中国", u"", u""},
            {u"", u"", u""},
            {u"中华人民共和国 广东省深圳市", u"广东省", u"深圳市"},
            {u"518000广东省深圳市", u"广东省", u"深圳市"},
            {u"广东省某某县", u"广东省", u""},
        };
        for (const auto &c : cases) {
            const QString address = QString::fromUtf16(c.address);
            QCOMPARE(describe(readAddress(address).place),
                     describe({QString::fromUtf16(c.province), QString::fromUtf16(c.city)}));
        }
    }

    void everyDivisionAndCityIsReadByItsFullName()
    {
        const auto all = divisions();
        QCOMPARE(int(all.size()), 34);
        QSet<QString> seen;
        int cities = 0;
        for (const Division &d : all) {
            const QString province = QString::fromUtf16(d.names).section(u'|', 0, 0);
            QVERIFY2(!seen.contains(province), qPrintable(province));
            seen.insert(province);
            const Place own = readAddress(province + QStringLiteral("某路1号")).place;
            QCOMPARE(own.province, province);
            for (const QString &entry : QString::fromUtf16(d.cities).split(u' ', Qt::SkipEmptyParts)) {
                const QString city = entry.section(u'|', 0, 0);
                const Place got = readAddress(province + city + QStringLiteral("人民路1号")).place;
                QCOMPARE(describe(got), describe({province, city}));
                ++cities;
            }
        }
        // Every prefecture-level division and the county-level cities provinces govern directly.
        QVERIFY2(cities >= 333, qPrintable(QString::number(cities)));
    }
};

QTEST_GUILESS_MAIN(TestAddressReader)
#include "test_address_reader.moc"
