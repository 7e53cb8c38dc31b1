// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <limits>
#include <optional>

// What listening to one sample tells: tempo, key, loudness, true peak and whether it is a loop or
// a one-shot. Kept in memory for every file, so it is stored quantised in 8 bytes; every field
// may be unknown, and an unknown field is never filled with a guess.
class SoundFacts final
{
public:
    enum class Kind : quint8
    {
        Unknown,
        Loop,
        OneShot,
    };
    enum class Status : quint8
    {
        NotAnalysed, // nothing known yet, or the analysis was cancelled
        Analysed,
        Failed, // the file could not be analysed (unreadable, undecodable, out of time)
    };

    // Keys 0…11 are C major to B major in semitones, 12…23 C minor to B minor.
    static constexpr int keyCount = 24;
    static constexpr int unknownKey = -1;
    static constexpr qsizetype serializedSize = 8;

    SoundFacts() = default;
    static SoundFacts failed();
    // Out-of-range or non-finite values are stored as unknown; bpm ≤ 0 is unknown.
    static SoundFacts analysed(double bpm, int key, std::optional<double> loudness,
                               std::optional<double> truePeak, Kind kind);

    Status status() const { return Status(m_flags >> 4); }
    // Beats per minute to 0.01; 0 when unknown.
    double bpm() const { return m_centiBpm / 100.0; }
    int key() const { return m_key; }
    // Integrated loudness in LUFS to 0.01 LU.
    std::optional<double> loudness() const;
    // The highest true peak of any channel in dBTP, to 0.01 dB.
    std::optional<double> truePeak() const;
    Kind kind() const { return Kind(m_flags & 0x0f); }

    // "Am", "F#", "Eb": empty for an unknown key.
    QString keyName() const { return keyName(m_key); }
    static QString keyName(int key);
    // The key a musician writes: a letter, an optional "#" or "b", and "m" for minor ("C#m" is
    // the same key as "Dbm"); unknownKey for anything else.
    static int keyFromName(QStringView name);

    // Exactly serializedSize bytes, the same on every machine.
    QByteArray toBytes() const;
    // Absent when the bytes are not what toBytes writes.
    static std::optional<SoundFacts> fromBytes(QByteArrayView bytes);

    friend bool operator==(const SoundFacts &, const SoundFacts &) = default;

private:
    static constexpr qint16 unknownLevel = std::numeric_limits<qint16>::min();
    static qint16 centiLevel(std::optional<double> value);

    quint16 m_centiBpm = 0;
    qint16 m_centiLoudness = unknownLevel;
    qint16 m_centiPeak = unknownLevel;
    qint8 m_key = unknownKey;
    // Status in the high nibble, kind in the low one.
    quint8 m_flags = 0;
};
