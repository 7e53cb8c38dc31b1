#include "Fold.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <vector>

bool isAscii(std::string_view text)
{
    for (unsigned char c : text) {
        if (c >= 0x80)
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

void foldUtf8(std::string_view text, std::string &out)
{
    if (isAscii(text)) {
        const size_t start = out.size();
        out.append(text);
        for (size_t i = start; i < out.size(); ++i) {
            char &c = out[i];
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
        }
        return;
    }
    const QByteArray utf8 =
        foldNonAscii(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()))).toUtf8();
    out.append(utf8.constData(), static_cast<size_t>(utf8.size()));
}
