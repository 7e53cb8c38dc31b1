// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "Fold.h"

#include "FilePaths.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <cstring>
#include <vector>

bool isAscii(std::string_view text)
{
    // Eight bytes at a time: this runs over every name and path the index holds.
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        quint64 word;
        std::memcpy(&word, text.data() + i, 8);
        if (word & 0x8080808080808080ull)
            return false;
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) >= 0x80)
            return false;
    }
    return true;
}

namespace {

bool isAsciiText(QStringView text)
{
    for (QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// Runs one ICU normalisation into `out`, growing it once if the first guess was short.
bool normalize(const UNormalizer2 *normalizer, const std::u16string &in, std::u16string &out)
{
    UErrorCode status = U_ZERO_ERROR;
    out.resize(in.size() * 2 + 8);
    int32_t length = unorm2_normalize(normalizer, in.data(), static_cast<int32_t>(in.size()),
                                      out.data(), static_cast<int32_t>(out.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        out.resize(static_cast<size_t>(length));
        length = unorm2_normalize(normalizer, in.data(), static_cast<int32_t>(in.size()),
                                  out.data(), static_cast<int32_t>(out.size()), &status);
    }
    if (U_FAILURE(status))
        return false;
    out.resize(static_cast<size_t>(length));
    return true;
}

QString foldNonAscii(QStringView text)
{
    // A name's bytes that are not UTF-8 are found as they are shown.
    if (std::any_of(text.begin(), text.end(), FilePaths::isEscapedByte))
        return foldNonAscii(FilePaths::displayText(text.toString()));
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2 *nfkd = unorm2_getNFKDInstance(&status);
    const UNormalizer2 *nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status))
        return text.toString().toCaseFolded();

    const std::u16string input(reinterpret_cast<const char16_t *>(text.utf16()),
                               static_cast<size_t>(text.size()));
    std::u16string decomposed;
    if (!normalize(nfkd, input, decomposed))
        return text.toString().toCaseFolded();

    std::u16string unmarked;
    unmarked.reserve(decomposed.size());
    for (size_t i = 0; i < decomposed.size();) {
        UChar32 c;
        U16_NEXT(decomposed.data(), i, decomposed.size(), c);
        if (u_charType(c) == U_NON_SPACING_MARK)
            continue;
        if (U_IS_BMP(c)) {
            unmarked.push_back(static_cast<char16_t>(c));
        } else {
            unmarked.push_back(static_cast<char16_t>(U16_LEAD(c)));
            unmarked.push_back(static_cast<char16_t>(U16_TRAIL(c)));
        }
    }

    std::u16string folded(unmarked.size() * 3 + 8, u'\0');
    status = U_ZERO_ERROR;
    int32_t length =
        u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()), unmarked.data(),
                      static_cast<int32_t>(unmarked.size()), U_FOLD_CASE_DEFAULT, &status);
    if (U_FAILURE(status))
        return text.toString().toCaseFolded();
    folded.resize(static_cast<size_t>(length));

    std::u16string composed;
    if (!normalize(nfc, folded, composed))
        return text.toString().toCaseFolded();
    return QString(reinterpret_cast<const QChar *>(composed.data()),
                   static_cast<qsizetype>(composed.size()));
}

} // namespace

QString fold(QStringView text)
{
    if (isAsciiText(text))
        return text.toString().toLower();
    return foldNonAscii(text);
}

namespace {

// Folded forms of single code points where folding a text is folding each code point on its
// own: accented Latin letters, combining diacritics and full-width ASCII. No result there holds a
// mark that could compose with a neighbour, so the final composition changes nothing across
// code points. A name made of these alone (most non-ASCII sample names) skips ICU.
class FoldTable final
{
public:
    FoldTable()
    {
        for (const Range &range : ranges) {
            for (char32_t c = range.first; c <= range.last; ++c) {
                const char32_t text[1] = {c};
                m_folded[c - range.first + range.base] =
                    foldNonAscii(QString::fromUcs4(text, 1)).toStdString();
            }
        }
    }

    const std::string *find(char32_t c) const
    {
        for (const Range &range : ranges) {
            if (c >= range.first && c <= range.last)
                return &m_folded[c - range.first + range.base];
        }
        return nullptr;
    }

private:
    struct Range
    {
        char32_t first;
        char32_t last;
        size_t base;
    };
    static constexpr Range ranges[] = {
        {0x0080, 0x036F, 0}, {0x1E00, 0x1EFF, 0x2F0}, {0xFF01, 0xFF5E, 0x3F0}};
    std::string m_folded[0x3F0 + 0x5E];
};

const FoldTable &foldTable()
{
    static const FoldTable table;
    return table;
}

// Appends the folded form through the table; false (with `out` as it was) when some code point
// is not in it or the text is not valid UTF-8.
bool foldByTable(std::string_view text, std::string &out)
{
    const FoldTable &table = foldTable();
    const size_t start = out.size();
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = p + text.size();
    while (p < end) {
        char32_t c = *p;
        if (c < 0x80) {
            out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
            ++p;
            continue;
        }
        int extra = (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : 0;
        if (extra == 0 || end - p <= extra) {
            out.resize(start);
            return false;
        }
        c &= extra == 1 ? 0x1F : 0x0F;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80) {
                out.resize(start);
                return false;
            }
            c = (c << 6) | (p[i] & 0x3F);
        }
        const std::string *folded = table.find(c);
        // Overlong forms decode below their length's range: not valid UTF-8.
        if (!folded || c < (extra == 1 ? 0x80u : 0x800u)) {
            out.resize(start);
            return false;
        }
        out.append(*folded);
        p += extra + 1;
    }
    return true;
}

} // namespace

void foldAscii(std::string_view text, char *out)
{
    // Eight bytes at a time: a byte's top bit is free in ASCII, so adding to every byte at
    // once carries into no other. A byte from 'A' to 'Z' gains 0x20.
    constexpr quint64 ones = 0x0101010101010101ull;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        quint64 word;
        std::memcpy(&word, text.data() + i, 8);
        const quint64 fromA = word + (0x80 - 'A') * ones;
        const quint64 pastZ = word + (0x80 - 'Z' - 1) * ones;
        word |= (fromA & ~pastZ & (0x80 * ones)) >> 2;
        std::memcpy(out + i, &word, 8);
    }
    for (; i < text.size(); ++i) {
        const char c = text[i];
        out[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
}

void foldUtf8(std::string_view text, std::string &out)
{
    if (!isAscii(text) && foldByTable(text, out))
        return;
    if (isAscii(text)) {
        const size_t start = out.size();
        out.resize(start + text.size());
        foldAscii(text, out.data() + start);
        return;
    }
    const QByteArray utf8 =
        foldNonAscii(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))).toUtf8();
    out.append(utf8.constData(), static_cast<size_t>(utf8.size()));
}
