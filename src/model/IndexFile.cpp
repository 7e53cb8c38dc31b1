#include "IndexFile.h"

#include "BinaryPlistReader.h"
#include "BinaryPlistWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <array>

namespace {

std::shared_ptr<SampleIndex> emptyIndex()
{
    return SampleIndex::Builder().finish();
}

} // namespace

std::shared_ptr<SampleIndex> IndexFile::read(const QString &filePath)
{
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly) || file.size() == 0)
        return emptyIndex();
    const qint64 size = file.size();
    const uchar *mapped = file.map(0, size);
    QByteArray buffer;
    QByteArrayView bytes;
    if (mapped) {
        bytes = QByteArrayView(reinterpret_cast<const char *>(mapped), size);
    } else {
        buffer = file.readAll();
        bytes = buffer;
    }
    return readBytes(bytes);
}

std::shared_ptr<SampleIndex> IndexFile::readBytes(QByteArrayView bytes)
{
    const qsizetype size = bytes.size();
    const std::optional<BinaryPlistReader> reader = BinaryPlistReader::open(bytes);
    if (!reader)
        return emptyIndex();
    const std::optional<std::vector<quint64>> elements = reader->arrayRefs(reader->topObject());
    if (!elements || reader->type(reader->topObject()) != BinaryPlistReader::Type::Array)
        return emptyIndex();

    SampleIndex::Builder builder;
    builder.reserve(elements->size(), static_cast<size_t>(size) / 2);
    std::vector<quint64> keys;
    std::vector<quint64> values;
    QByteArray pathUtf8;
    QByteArray foldedUtf8;
    for (quint64 element : *elements) {
        if (!reader->dictionaryRefs(element, keys, values))
            return emptyIndex();
        std::optional<quint64> pathRef;
        std::optional<quint64> foldedRef;
        for (size_t i = 0; i < keys.size(); ++i) {
            const std::optional<QByteArrayView> key = reader->asciiBytes(keys[i]);
            std::optional<QString> keyText;
            if (!key)
                keyText = reader->string(keys[i]);
            const auto is = [&](QLatin1StringView name) {
                return key ? *key == QByteArrayView(name.data(), name.size())
                           : (keyText && *keyText == name);
            };
            if (is(QLatin1StringView("path")))
                pathRef = values[i];
            else if (is(QLatin1StringView("folded")))
                foldedRef = values[i];
        }
        if (!pathRef || !foldedRef)
            return emptyIndex();
        // ASCII strings are copied straight from the mapped file; others are decoded.
        const auto utf8 = [&](quint64 ref, QByteArray &out) -> std::optional<std::string_view> {
            if (const std::optional<QByteArrayView> ascii = reader->asciiBytes(ref))
                return std::string_view(ascii->data(), static_cast<size_t>(ascii->size()));
            const std::optional<QString> text = reader->string(ref);
            if (!text)
                return std::nullopt;
            out = text->toUtf8();
            return std::string_view(out.constData(), static_cast<size_t>(out.size()));
        };
        const std::optional<std::string_view> path = utf8(*pathRef, pathUtf8);
        const std::optional<std::string_view> folded = utf8(*foldedRef, foldedUtf8);
        if (!path || !folded)
            return emptyIndex();
        builder.append(*path, *folded);
    }
    return builder.finish();
}

bool IndexFile::write(const SampleIndex &index, const QString &filePath)
{
    if (!QDir().mkpath(QFileInfo(filePath).absolutePath()))
        return false;

    // Objects: the two shared keys, then per entry its dictionary and two strings, then the root
    // array last; every number is known up front, so the file streams out in one pass.
    const quint64 count = index.size();
    const quint64 objectCount = 3 + 3 * count;
    BinaryPlistWriter writer(objectCount);
    writer.writeString(u"path");
    writer.writeString(u"folded");
    const std::array<quint64, 2> keyRefs{0, 1};
    // Entries go out in search order, so that reading the file back needs no sort.
    for (quint64 position = 0; position < count; ++position) {
        const quint64 entry = index.entryAt(position);
        const quint64 dictionary = 2 + 3 * position;
        const std::array<quint64, 2> valueRefs{dictionary + 1, dictionary + 2};
        writer.writeDictionary(keyRefs, valueRefs);
        const std::string_view path = index.path(entry);
        const std::string_view folded = index.folded(entry);
        writer.writeUtf8String(QByteArrayView(path.data(), static_cast<qsizetype>(path.size())));
        writer.writeUtf8String(
            QByteArrayView(folded.data(), static_cast<qsizetype>(folded.size())));
    }
    std::vector<quint64> elements(count);
    for (quint64 position = 0; position < count; ++position)
        elements[position] = 2 + 3 * position;
    writer.writeArray(elements);
    const QByteArray document = writer.finish(objectCount - 1);
    if (document.isEmpty())
        return false;

    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(document) != document.size())
        return false;
    return file.commit();
}
