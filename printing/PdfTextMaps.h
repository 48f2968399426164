#pragma once

// The text a PDF reader extracts from our files. The PDF writer tells readers which character
// each glyph stands for by looking the glyph up in the font's character map from the lowest code
// up, and the Chinese faces draw the Kangxi radicals and the CJK radical supplement with the
// glyphs of ordinary ideographs: 金 comes out as ⾦ (U+2FA6), 户 as ⼾, 长 as ⻓. Copying or
// searching the file then fails. We print ideographs, never radicals, so each radical in the
// file's maps is put back to the ideograph the same font draws with that glyph.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <functional>

class QRawFont;

namespace lianbu::printing {

// Radical → the ideograph `font` draws with the same glyph (both in the Basic Multilingual Plane);
// radicals with a glyph of their own are left out.
QHash<char16_t, char16_t> radicalIdeographs(const QRawFont &font);

// In the ToUnicode maps of `pdf`, replaces each radical by its ideograph from the map that
// `mapFor` gives for the font's PostScript name (the /BaseFont). A replacement has the same
// length, so every offset of the file stays valid. Returns the number of codes replaced.
using RadicalMapFor = std::function<const QHash<char16_t, char16_t> &(const QByteArray &postScriptName)>;
int mendTextMaps(QByteArray *pdf, const RadicalMapFor &mapFor);

// mendTextMaps on a whole PDF in memory with the installed Chinese faces.
int mendTextMapsWithInstalledFaces(QByteArray *pdf);

// mendTextMaps on the file at `path` with the installed Chinese faces. False when the file
// could not be read or written back.
bool mendTextMapsOfFile(const QString &path);

} // namespace lianbu::printing
