// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Any bytes as the stored index, then a search over what was read.
#include "model/IndexFile.h"
#include "platform/CancelFlag.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::shared_ptr<SampleIndex> index = IndexFile::readBytes(bytes);
    CancelFlag flag;
    (void)index->search({"k"}, {}, flag);
    return 0;
}
