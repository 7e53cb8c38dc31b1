// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the value of the file manager's tag attribute.
#include "tags/FinderTagsIO.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<FinderTagsIO::Entry> entries = FinderTagsIO::decodeEntries(bytes);
    // What was read must write out again.
    (void)FinderTagsIO::encodeEntries(entries);
    return 0;
}
