#pragma once

#include <QString>
#include <QStringView>

namespace lianbu::stats {

// Where an address lies, as far as its beginning tells: the full names of the provincial-level
// division and of its city (a municipality or special region is its own city). An empty province
// means the address was not read (未识别); an empty city, that only the province was.
struct Place
{
    QString province;
    QString city;
    bool operator==(const Place &) const = default;
};

struct AddressReading
{
    Place place;
    // Only for a text that is the beginning of an address: more of it could change the place.
    bool needsMore = false;
};

// Reads the province and city at the beginning of `text` (after blanks, a postcode or 中国).
// `whole`: false when `text` is only the first characters of the address; the reading then says
// whether it could change with more of them.
AddressReading readAddress(QStringView text, bool whole = true);

// The label of what could not be read.
QString unrecognisedLabel();

} // namespace lianbu::stats
