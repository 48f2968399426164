#include "platform/Decimal.h"

#include <limits>

namespace lianbu {

std::optional<int> parseInt32(QByteArrayView text)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text.at(i) == '-' || text.at(i) == '+')) {
        negative = text.at(i) == '-';
        ++i;
    }
    if (i == text.size())
        return std::nullopt;
    qint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c < '0' || c > '9')
            return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > qint64(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    const qint64 value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return std::nullopt;
    return int(value);
}

} // namespace lianbu
