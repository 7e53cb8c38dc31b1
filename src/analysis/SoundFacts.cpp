// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SoundFacts.h"

#include <QtEndian>

#include <array>
#include <cmath>

static_assert(sizeof(SoundFacts) <= 16);

namespace {

constexpr std::array<const char *, 12> pitchNames{"C",  "Db", "D",  "Eb", "E",  "F",
                                                  "F#", "G",  "Ab", "A",  "Bb", "B"};
constexpr quint8 statusCount = 3;
constexpr quint8 kindCount = 3;

} // namespace

SoundFacts SoundFacts::failed()
{
    SoundFacts facts;
    facts.m_flags = quint8(quint8(Status::Failed) << 4);
    return facts;
}

SoundFacts SoundFacts::analysed(double bpm, int key, std::optional<double> loudness,
                                std::optional<double> truePeak, Kind kind)
{
    SoundFacts facts;
    if (std::isfinite(bpm) && bpm > 0.0 && bpm * 100.0 < 65535.5)
        facts.m_centiBpm = quint16(std::lround(bpm * 100.0));
    facts.m_key = qint8(key >= 0 && key < keyCount ? key : unknownKey);
    facts.m_centiLoudness = centiLevel(loudness);
    facts.m_centiPeak = centiLevel(truePeak);
    facts.m_flags = quint8(quint8(Status::Analysed) << 4 | quint8(kind));
    return facts;
}

qint16 SoundFacts::centiLevel(std::optional<double> value)
{
    if (!value || !std::isfinite(*value))
        return unknownLevel;
    // Levels beyond ±327 dB do not occur in sound; quieter than that is as good as silence.
    const double centi = std::round(*value * 100.0);
    if (centi <= double(unknownLevel) || centi > double(std::numeric_limits<qint16>::max()))
        return unknownLevel;
    return qint16(centi);
}

std::optional<double> SoundFacts::loudness() const
{
    if (m_centiLoudness == unknownLevel)
        return std::nullopt;
    return m_centiLoudness / 100.0;
}

std::optional<double> SoundFacts::truePeak() const
{
    if (m_centiPeak == unknownLevel)
        return std::nullopt;
    return m_centiPeak / 100.0;
}

QString SoundFacts::keyName(int key)
{
    if (key < 0 || key >= keyCount)
        return {};
    QString name = QLatin1String(pitchNames[size_t(key % 12)]);
    if (key >= 12)
        name += QLatin1Char('m');
    return name;
}

int SoundFacts::keyFromName(QStringView name)
{
    static constexpr std::array<int, 7> letterPitch{9, 11, 0, 2, 4, 5, 7}; // A to G
    if (name.isEmpty())
        return unknownKey;
    const char16_t letter = QChar::toUpper(name[0].unicode());
    if (letter < u'A' || letter > u'G')
        return unknownKey;
    int pitch = letterPitch[size_t(letter - u'A')];
    qsizetype at = 1;
    if (at < name.size() && (name[at] == u'#' || name[at] == u'♯')) {
        ++pitch;
        ++at;
    } else if (at < name.size() && (name[at] == u'b' || name[at] == u'♭')) {
        --pitch;
        ++at;
    }
    bool minor = false;
    if (at < name.size() && name[at] == u'm') {
        minor = true;
        ++at;
    }
    if (at != name.size())
        return unknownKey;
    return (pitch + 12) % 12 + (minor ? 12 : 0);
}

QByteArray SoundFacts::toBytes() const
{
    QByteArray bytes(serializedSize, Qt::Uninitialized);
    char *out = bytes.data();
    qToLittleEndian(m_centiBpm, out);
    qToLittleEndian(m_centiLoudness, out + 2);
    qToLittleEndian(m_centiPeak, out + 4);
    out[6] = char(m_key);
    out[7] = char(m_flags);
    return bytes;
}

std::optional<SoundFacts> SoundFacts::fromBytes(QByteArrayView bytes)
{
    if (bytes.size() != serializedSize)
        return std::nullopt;
    const char *in = bytes.data();
    SoundFacts facts;
    facts.m_centiBpm = qFromLittleEndian<quint16>(in);
    facts.m_centiLoudness = qFromLittleEndian<qint16>(in + 2);
    facts.m_centiPeak = qFromLittleEndian<qint16>(in + 4);
    facts.m_key = qint8(in[6]);
    facts.m_flags = quint8(in[7]);
    if (facts.m_key < unknownKey || facts.m_key >= keyCount ||
        (facts.m_flags >> 4) >= statusCount || (facts.m_flags & 0x0f) >= kindCount)
        return std::nullopt;
    return facts;
}
