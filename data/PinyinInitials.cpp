#include "data/PinyinInitials.h"

#include "data/PinyinInitials.inc"

namespace lianbu {

namespace {

char initialOf(char32_t character)
{
    const auto lookup = [character](char32_t first, const char *table, std::size_t size) -> char {
        if (character < first || character - first >= size - 1)
            return 0;
        const char letter = table[character - first];
        return letter == '-' ? 0 : letter;
    };
    if (const char letter = lookup(kUnifiedFirst, kUnifiedInitials, sizeof kUnifiedInitials))
        return letter;
    return lookup(kExtensionAFirst, kExtensionAInitials, sizeof kExtensionAInitials);
}

} // namespace

QString pinyinInitials(QStringView text)
{
    QString initials;
    initials.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            initials += text.at(i);
            initials += text.at(++i);
            continue;
        }
        if (const char letter = initialOf(ch.unicode()))
            initials += QLatin1Char(letter);
        else if (ch >= QLatin1Char('A') && ch <= QLatin1Char('Z'))
            initials += QChar(ch.unicode() + ('a' - 'A'));
        else
            initials += ch;
    }
    return initials;
}

bool isPinyinQuery(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (const QChar ch : text)
        if (!((ch >= QLatin1Char('a') && ch <= QLatin1Char('z')) || (ch >= QLatin1Char('A') && ch <= QLatin1Char('Z'))))
            return false;
    return true;
}

} // namespace lianbu
