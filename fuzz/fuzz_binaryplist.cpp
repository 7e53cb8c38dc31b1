// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes: the whole-document read and every accessor of every object, which must answer or
// refuse without reading out of bounds, looping or exhausting memory.
#include "platform/BinaryPlist.h"
#include "platform/BinaryPlistReader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)BinaryPlist::read(bytes);
    const std::optional<BinaryPlistReader> reader = BinaryPlistReader::open(bytes);
    if (!reader)
        return 0;
    std::vector<quint64> keys;
    std::vector<quint64> values;
    // The object count is bounded by the document's size, so this loop is too.
    for (quint64 ref = 0; ref <= reader->objectCount(); ++ref) {
        (void)reader->type(ref);
        (void)reader->arrayRefs(ref);
        (void)reader->dictionaryRefs(ref, keys, values);
        (void)reader->string(ref);
        (void)reader->asciiBytes(ref);
        (void)reader->integer(ref);
    }
    (void)reader->toVariant(reader->topObject());
    return 0;
}
