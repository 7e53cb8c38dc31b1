// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TimbreStore.h"

namespace {

// The version names the descriptor's meaning as well as the layout.
constexpr KeyedRecordFile<Timbre>::Magic magic = {'W', 'L', 'T', 'I', 'M', 'B', 0, 2};

} // namespace

TimbreStore::TimbreStore(const QString &filePath) : m_file(filePath, magic) {}

QString TimbreStore::filePathBeside(const QString &filePath)
{
    return filePath + QStringLiteral(".timbre");
}

quint64 TimbreStore::continuePathKey(quint64 state, QByteArrayView piece)
{
    // FNV-1a: streams, so a key can be built from pieces without joining them.
    for (const char c : piece) {
        state ^= quint8(c);
        state *= 0x100000001b3ull;
    }
    return state;
}

quint64 TimbreStore::finishPathKey(quint64 state)
{
    // Spreads keys of paths that differ only at their end over the whole range.
    state ^= state >> 33;
    state *= 0xff51afd7ed558ccdull;
    state ^= state >> 33;
    return state;
}

TimbreStore::Records TimbreStore::read(const QString &filePath)
{
    return KeyedRecordFile<Timbre>::read(filePath, magic);
}
