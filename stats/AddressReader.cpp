#include "stats/AddressReader.h"

#include "stats/Regions.h"

#include <QHash>
#include <QStringList>

#include <vector>

namespace lianbu::stats {

namespace {

constexpr int kNoCity = -1;

struct Name
{
    QString text;
    int division = 0;
    int city = kNoCity; // for a district: kNoCity (the municipality is the city)
    // A name without its 市/地区/盟/省 ending: the text after it must not make it a street or a
    // district (北京路, 河北区, 中山北路 stay unread).
    bool bare = false;
    // A one-character short form (京, 粤): only read when a city of its division follows.
    bool single = false;
};

struct Catalogue
{
    std::vector<QString> divisionNames;                       // full names
    std::vector<bool> ownCity;                                // municipalities and special regions
    QHash<QChar, std::vector<Name>> divisionsByFirst;         // province names and short forms
    QHash<QChar, std::vector<Name>> citiesByFirst;            // every city and district name, for reading
                                                              // an address that starts with its city
    std::vector<QHash<QChar, std::vector<Name>>> cityNamesOf; // per division
    std::vector<QString> cityFullNames;                       // index: Name::city
};

bool endsWith(const QString &s, const QString &tail)
{
    return s.size() > tail.size() + 1 && s.endsWith(tail);
}

bool hasEnding(const QString &name)
{
    return name.endsWith(u'市') || name.endsWith(u'区') || name.endsWith(u'县');
}

// The name without its ending, when what remains is still a name people write alone.
QString bareForm(const QString &full)
{
    for (const QString &tail : {QStringLiteral("地区"), QStringLiteral("市"), QStringLiteral("盟")}) {
        if (endsWith(full, tail))
            return full.left(full.size() - tail.size());
    }
    return {};
}

const Catalogue &catalogue()
{
    static const Catalogue c = [] {
        Catalogue c;
        const auto all = divisions();
        c.cityNamesOf.resize(all.size());
        // Names that more than one place uses are not read without their province.
        QHash<QString, int> owners;
        std::vector<Name> cityNames;
        for (int d = 0; d < int(all.size()); ++d) {
            const Division &division = all[size_t(d)];
            const QStringList names = QString::fromUtf16(division.names).split(u'|');
            c.divisionNames.push_back(names.first());
            c.ownCity.push_back(division.kind == DivisionKind::Municipality
                                || division.kind == DivisionKind::SpecialRegion);
            for (int i = 0; i < names.size(); ++i) {
                Name n{names[i], d, kNoCity, i > 0, names[i].size() == 1};
                c.divisionsByFirst[n.text.front()].push_back(n);
            }
            auto addCity = [&](const QString &text, int city, bool bare) {
                Name n{text, d, city, bare, false};
                c.cityNamesOf[size_t(d)][text.front()].push_back(n);
                cityNames.push_back(n);
                owners[text] += 1;
            };
            for (const QString &entry : QString::fromUtf16(division.cities).split(u' ', Qt::SkipEmptyParts)) {
                const QStringList forms = entry.split(u'|');
                const int city = int(c.cityFullNames.size());
                c.cityFullNames.push_back(forms.first());
                for (int i = 0; i < forms.size(); ++i) {
                    addCity(forms[i], city, i > 0 && !hasEnding(forms[i]));
                    if (i == 0) {
                        const QString bare = bareForm(forms[i]);
                        if (!bare.isEmpty() && !forms.contains(bare))
                            addCity(bare, city, true);
                    }
                }
            }
            for (QString entry : QString::fromUtf16(division.districts).split(u' ', Qt::SkipEmptyParts)) {
                const bool shared = entry.startsWith(u'*');
                if (shared)
                    entry.remove(0, 1);
                for (const QString &form : entry.split(u'|')) {
                    addCity(form, kNoCity, false);
                    if (shared)
                        owners[form] += 1;
                }
            }
        }
        for (const Name &n : cityNames)
            if (owners.value(n.text) == 1)
                c.citiesByFirst[n.text.front()].push_back(n);
        return c;
    }();
    return c;
}

// What may follow a bare name without turning it into a street, a district or a county.
bool endsBareName(QChar next)
{
    static const QString kStreetOrDistrict = QStringLiteral("区县路街道镇乡村旗巷弄");
    return !kStreetOrDistrict.contains(next);
}

enum class Street { No, Yes, Unknown };

// Whether the text after a bare name makes it a street's name: a direction or a number and then
// 路, 街, 巷 or 大道 (中山北路, 中山东一路, 北京西路, 人民南大道, 中山大道). Unknown when the
// text ends before that is told.
Street streetAfter(QStringView rest)
{
    static const QString kDirections = QStringLiteral("东西南北中");
    static const QString kNumbers = QStringLiteral("一二三四五六七八九十0123456789");
    static const QString kStreets = QStringLiteral("路街巷");
    static const QString kAvenues[] = {QStringLiteral("大道"), QStringLiteral("大街")};
    auto avenue = [](QStringView at) {
        for (const QString &word : kAvenues) {
            if (at.startsWith(word))
                return Street::Yes;
            if (QStringView(word).startsWith(at))
                return Street::Unknown;
        }
        return Street::No;
    };
    if (rest.isEmpty())
        return Street::Unknown;
    if (const Street direct = avenue(rest); direct != Street::No)
        return direct;
    qsizetype at = 0;
    if (kDirections.contains(rest[at]))
        ++at;
    while (at < rest.size() && at < 4 && kNumbers.contains(rest[at]))
        ++at;
    if (at == 0)
        return Street::No;
    if (at >= rest.size())
        return Street::Unknown;
    if (kStreets.contains(rest[at]))
        return Street::Yes;
    return avenue(rest.mid(at));
}

bool isFiller(QChar ch)
{
    static const QString kMarks = QStringLiteral(",，:：、;；.。()（）[]【】-—_/#");
    return ch.isSpace() || ch == QChar(0x3000) || (ch >= u'0' && ch <= u'9') || kMarks.contains(ch);
}

class Reader
{
public:
    Reader(QStringView text, bool whole)
        : m_text(text)
        , m_whole(whole)
    {}

    AddressReading read()
    {
        const Catalogue &c = catalogue();
        const qsizetype start = skipFiller(0);
        if (start < 0)
            return {{}, !m_whole && m_ranOut};

        struct Best
        {
            qsizetype end = -1;
            int division = -1;
            int city = kNoCity;
        } best;
        auto consider = [&best](qsizetype end, int division, int city) {
            if (end > best.end)
                best = {end, division, city};
        };

        // The province first, then its city.
        for (const Name &n : candidates(c.divisionsByFirst, start)) {
            const qsizetype after = matchAt(n, start);
            if (after < 0)
                continue;
            qsizetype at = after;
            if (n.bare && !n.single && at < m_text.size() && m_text[at] == u'省')
                ++at; // 广西省, 内蒙省: the name with a wrong ending
            at = skipBlanks(at);
            int city = kNoCity;
            qsizetype end = at;
            for (const Name &cn : candidates(c.cityNamesOf[size_t(n.division)], at)) {
                const qsizetype cityEnd = matchAt(cn, at);
                if (cityEnd > end) {
                    end = cityEnd;
                    city = cn.city;
                }
            }
            if (n.single && end == at)
                continue; // a lone 京 or 粤 says too little
            consider(end, n.division, city);
        }
        // Or the city (or a municipality's district) alone.
        for (const Name &n : candidates(c.citiesByFirst, start)) {
            const qsizetype end = matchAt(n, start);
            if (end >= 0 && end > best.end)
                best = {end, n.division, n.city};
        }

        AddressReading reading;
        reading.needsMore = !m_whole && m_ranOut;
        if (best.division < 0)
            return reading;
        reading.place.province = c.divisionNames[size_t(best.division)];
        if (c.ownCity[size_t(best.division)])
            reading.place.city = reading.place.province;
        else if (best.city != kNoCity)
            reading.place.city = c.cityFullNames[size_t(best.city)];
        return reading;
    }

private:
    // The names beginning with the character at `at`; none at the end of the text (where any
    // name could still begin).
    const std::vector<Name> &candidates(const QHash<QChar, std::vector<Name>> &byFirst, qsizetype at)
    {
        static const std::vector<Name> kNone;
        if (at >= m_text.size()) {
            m_ranOut = true;
            return kNone;
        }
        const auto it = byFirst.constFind(m_text[at]);
        return it == byFirst.cend() ? kNone : *it;
    }

    // The end of `n` when the text has it at `at`, otherwise -1.
    qsizetype matchAt(const Name &n, qsizetype at)
    {
        const QStringView rest = m_text.mid(at);
        if (rest.size() < n.text.size()) {
            if (QStringView(n.text).startsWith(rest))
                m_ranOut = true;
            return -1;
        }
        if (!rest.startsWith(n.text))
            return -1;
        const qsizetype end = at + n.text.size();
        if (n.bare && !n.single) {
            if (end >= m_text.size())
                m_ranOut = true;
            else if (!endsBareName(m_text[end]))
                return -1;
            else if (const Street street = streetAfter(m_text.mid(end)); street == Street::Yes)
                return -1;
            else if (street == Street::Unknown && end < m_text.size())
                m_ranOut = true;
        }
        return end;
    }

    qsizetype skipBlanks(qsizetype at) const
    {
        while (at < m_text.size() && isFiller(m_text[at]))
            ++at;
        return at;
    }

    // Past blanks, marks, a postcode and the country's name; -1 when nothing else is there.
    qsizetype skipFiller(qsizetype at)
    {
        static const QString kCountries[] = {QStringLiteral("中华人民共和国"), QStringLiteral("中国")};
        for (;;) {
            while (at < m_text.size() && isFiller(m_text[at]))
                ++at;
            bool skipped = false;
            for (const QString &country : kCountries) {
                const QStringView rest = m_text.mid(at);
                if (rest.startsWith(country)) {
                    at += country.size();
                    skipped = true;
                    break;
                }
                if (!rest.isEmpty() && rest.size() < country.size() && QStringView(country).startsWith(rest))
                    m_ranOut = true;
            }
            if (!skipped)
                break;
        }
        if (at >= m_text.size()) {
            m_ranOut = true;
            return -1;
        }
        return at;
    }

    QStringView m_text;
    bool m_whole;
    bool m_ranOut = false; // some decision looked past the end of the text
};

} // namespace

AddressReading readAddress(QStringView text, bool whole)
{
    return Reader(text, whole).read();
}

QString unrecognisedLabel()
{
    return QStringLiteral("未识别");
}

} // namespace lianbu::stats
