// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Listening for likeness: variants of one sound lie nearest to it, and only identical audio
// hashes alike.
#include "MadeSounds.h"
#include "TestSupport.h"

#include "analysis/DescriptorTable.h"
#include "analysis/SoundAnalyzer.h"
#include "analysis/TimbreStore.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

namespace {

const QList<std::pair<QString, QStringList>> &sounds = madeSounds();

// Another container (lossless and lossy), 6 dB quieter, 10 ms trimmed off the start, a byte
// copy under another name.
const QStringList variants{u"flac"_qs, u"mp3"_qs, u"quiet"_qs, u"trimmed"_qs, u"copy"_qs};

} // namespace

class TestSoundDescriptor : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QHash<QString, SoundAnalyzer::Listening> m_heard; // by file name

    QString path(const QString &name) const { return m_dir.filePath(name); }
    bool sox(const QStringList &arguments)
    {
        return TestSupport::run(u"sox"_qs, arguments).exitCode == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestSupport::haveTool(u"ffmpeg"_qs) || !TestSupport::haveTool(u"sox"_qs))
            QSKIP("ffmpeg and sox are needed to make fixtures");
        QVERIFY(m_dir.isValid());
        for (const auto &[name, recipe] : sounds) {
            const QString wav = path(name + u".wav"_qs);
            QVERIFY(sox(QStringList{u"-n"_qs, u"-r"_qs, u"44100"_qs, u"-c"_qs, u"1"_qs, u"-b"_qs,
                                    u"16"_qs, wav} +
                        recipe + QStringList{u"vol"_qs, u"0.8"_qs}));
            QVERIFY(sox({wav, path(name + u"-flac.flac"_qs)}));
            QVERIFY(
                TestSupport::run(u"ffmpeg"_qs, {u"-v"_qs, u"quiet"_qs, u"-i"_qs, wav, u"-b:a"_qs,
                                                u"192k"_qs, path(name + u"-mp3.mp3"_qs)})
                    .exitCode == 0);
            QVERIFY(sox({wav, path(name + u"-quiet.wav"_qs), u"vol"_qs, u"-6dB"_qs}));
            QVERIFY(sox({wav, path(name + u"-trimmed.wav"_qs), u"trim"_qs, u"0.01"_qs}));
            QVERIFY(QFile::copy(wav, path(name + u"-copy renamed.wav"_qs)));
        }
        for (const QString &file : QDir(m_dir.path()).entryList(QDir::Files)) {
            const SoundAnalyzer::Listening heard = SoundAnalyzer::listen(path(file));
            QVERIFY2(heard.descriptor.isValid(), qPrintable(file));
            m_heard.insert(file.section(u'.', 0, 0).section(u' ', 0, 0), heard);
        }
        QCOMPARE(m_heard.size(), sounds.size() * (variants.size() + 1));
    }

    void variantsAreNearest_data()
    {
        QTest::addColumn<QString>("sound");
        for (const auto &[name, recipe] : sounds)
            QTest::newRow(qPrintable(name)) << name;
    }
    void variantsAreNearest()
    {
        QFETCH(QString, sound);
        const SoundDescriptor::Values values = m_heard.value(sound).descriptor.values();
        QList<std::pair<int, QString>> ranked;
        for (auto it = m_heard.cbegin(); it != m_heard.cend(); ++it) {
            if (it.key() != sound)
                ranked.append(
                    {SoundDescriptor::distance(values, it->descriptor.values()), it.key()});
        }
        std::sort(ranked.begin(), ranked.end());
        QStringList nearest;
        for (qsizetype i = 0; i < variants.size(); ++i)
            nearest.append(ranked.at(i).second);
        // Every variant ranks above every other sound.
        QStringList expected;
        for (const QString &variant : variants)
            expected.append(sound + u'-' + variant);
        std::sort(nearest.begin(), nearest.end());
        std::sort(expected.begin(), expected.end());
        QCOMPARE(nearest, expected);
    }

    // Identical audio after decoding, whatever the container or name, and nothing else.
    void onlyIdenticalAudioHashesAlike()
    {
        QHash<quint64, QStringList> groups;
        for (auto it = m_heard.cbegin(); it != m_heard.cend(); ++it) {
            QVERIFY(it->audioHash != 0);
            groups[it->audioHash].append(it.key());
        }
        QStringList shared;
        for (QStringList &group : groups) {
            if (group.size() > 1) {
                std::sort(group.begin(), group.end());
                shared.append(group.join(u' '));
            }
        }
        std::sort(shared.begin(), shared.end());
        QStringList expected;
        for (const auto &[name, recipe] : sounds)
            expected.append(QStringList{name, name + u"-copy"_qs, name + u"-flac"_qs}.join(u' '));
        std::sort(expected.begin(), expected.end());
        QCOMPARE(shared, expected);
    }

    void silenceAndBytes()
    {
        const QString quiet = path(u"silence.wav"_qs);
        QVERIFY(sox({u"-n"_qs, u"-r"_qs, u"44100"_qs, quiet, u"trim"_qs, u"0"_qs, u"0.5"_qs}));
        QVERIFY(!SoundAnalyzer::listen(quiet).descriptor.isValid());
        QFile::remove(quiet);
        const SoundDescriptor kick = m_heard.value(u"kick"_qs).descriptor;
        QCOMPARE(kick.toBytes().size(), SoundDescriptor::size);
        QCOMPARE(SoundDescriptor::fromBytes(kick.toBytes()), kick);
        QVERIFY(!SoundDescriptor::fromBytes(QByteArray(31, 'x')));
    }

    // The table finds what the pairwise ranking finds, leaves out rows without a descriptor and
    // rows not asked for; the store keeps every file's timbre by path, the newest record of a
    // path winning, and reads as empty when damaged.
    void tableAndStore()
    {
        std::vector<Timbre> entries;
        QStringList names = m_heard.keys();
        std::sort(names.begin(), names.end());
        DescriptorTable table;
        for (const QString &name : names) {
            const SoundAnalyzer::Listening &heard = m_heard[name];
            entries.emplace_back(heard.audioHash, heard.descriptor);
            table.append(heard.descriptor);
        }
        entries.emplace_back();
        table.append(SoundDescriptor());
        const auto kick = quint32(names.indexOf(u"kick"_qs));
        const auto hits = table.nearest(table.at(kick).values(), variants.size(),
                                        [&](quint32 row) { return row != kick; });
        QStringList found;
        for (const DescriptorTable::Hit &hit : hits)
            found.append(names.value(qsizetype(hit.row)));
        QCOMPARE(found.size(), variants.size());
        QVERIFY2(std::all_of(found.begin(), found.end(),
                             [](const QString &name) { return name.startsWith(u"kick-"_qs); }),
                 qPrintable(found.join(u' ')));

        const QString file = TimbreStore::filePathBeside(path(u"index.plist"_qs));
        const auto keyOf = [&](qsizetype i) {
            return TimbreStore::pathKey(QFile::encodeName(path(names.value(i, u"none"_qs))));
        };
        {
            TimbreStore store(file);
            store.insert(keyOf(0), entries.back()); // replaced below
            for (size_t i = 0; i < entries.size(); ++i)
                store.insert(keyOf(qsizetype(i)), entries[i]);
            QVERIFY(store.save());
        }
        const TimbreStore::Records records = TimbreStore::read(file);
        QCOMPARE(records.size(), entries.size());
        for (size_t i = 0; i < entries.size(); ++i)
            QCOMPARE(TimbreStore::find(records, keyOf(qsizetype(i))), entries[i]);
        QFile damaged(file);
        QVERIFY(damaged.open(QIODevice::ReadWrite));
        QVERIFY(damaged.resize(damaged.size() - 3));
        damaged.close();
        QVERIFY(TimbreStore::read(file).empty());
        QVERIFY(TimbreStore::read(path(u"missing.timbre"_qs)).empty());
        QFile::remove(file);
    }
};

QTEST_GUILESS_MAIN(TestSoundDescriptor)
#include "tst_sounddescriptor.moc"
