// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Finding sounds alike and copies of the same audio, as the user asks for them in the window.
#include "MadeSounds.h"
#include "ModelFixtures.h"

#include "SampleSearch.h"
#include "analysis/SoundAnalyzer.h"
#include "analysis/TimbreStore.h"
#include "platform/FilePaths.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QList<std::pair<QString, QStringList>> &sounds = madeSounds();

} // namespace

class TestSimilarSounds : public QObject
{
    Q_OBJECT

    QTemporaryDir m_trashHome;
    ModelFixture m_fixture;
    std::unique_ptr<BrowserModel> m_model;

    bool sox(const QStringList &arguments)
    {
        return TestSupport::run(u"sox"_qs, arguments).exitCode == 0;
    }
    QString lib(const QString &relative) const { return m_fixture.path(u"lib/"_qs + relative); }
    QStringList resultNames() const { return nodeNames(m_model->searchResults()); }
    bool waitForResults()
    {
        return QTest::qWaitFor([this] { return !m_model->searchResults().isEmpty(); }, 20000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (!TestSupport::haveTool(u"sox"_qs))
            QSKIP("sox is needed to make fixtures");
        // The desktop's trash of this test, not the user's.
        qputenv("XDG_DATA_HOME", m_trashHome.path().toUtf8());
        m_fixture.mkdir(u"lib/a"_qs);
        m_fixture.mkdir(u"lib/b"_qs);
        // Folder a: each sound and a quieter one; folder b: a lossless copy in another
        // container, one trimmed by 10 ms and a byte copy under another name, not in ASCII.
        for (const auto &[name, recipe] : sounds) {
            const QString wav = lib(u"a/"_qs + name + u".wav"_qs);
            QVERIFY(sox(QStringList{u"-n"_qs, u"-r"_qs, u"44100"_qs, u"-c"_qs, u"1"_qs, u"-b"_qs,
                                    u"16"_qs, wav} +
                        recipe + QStringList{u"vol"_qs, u"0.8"_qs}));
            QVERIFY(sox({wav, lib(u"a/"_qs + name + u"-quiet.wav"_qs), u"vol"_qs, u"-6dB"_qs}));
            QVERIFY(sox({wav, lib(u"b/"_qs + name + u"-flac.flac"_qs)}));
            QVERIFY(sox({wav, lib(u"b/"_qs + name + u"-trimmed.wav"_qs), u"trim"_qs, u"0.01"_qs}));
            QVERIFY(QFile::copy(wav, lib(u"b/"_qs + name + u" copié.wav"_qs)));
        }
        // What the analysis worker keeps of each file, made here by the same listening.
        const QString store = m_fixture.path(u"sound-timbre.bin"_qs);
        TimbreStore timbres(store);
        for (const QString &folder : {lib(u"a"_qs), lib(u"b"_qs)}) {
            for (const QString &file : QDir(folder).entryList(QDir::Files)) {
                const QString path = folder + u'/' + file;
                const SoundAnalyzer::Listening heard = SoundAnalyzer::listen(path);
                QVERIFY2(heard.descriptor.isValid(), qPrintable(file));
                timbres.insert(TimbreStore::pathKey(FilePaths::encoded(path)),
                               Timbre(heard.audioHash, heard.descriptor));
            }
        }
        QVERIFY(timbres.save());

        m_model = m_fixture.makeModel(true, false, {u"lib"_qs});
        m_model->setTimbreStoreFile(store);
        settle(*m_model);
        m_model->startIndexing();
        QTRY_COMPARE_WITH_TIMEOUT(m_model->index() ? m_model->index()->size() : 0,
                                  size_t(sounds.size() * 5), 10000);
    }

    // Nothing of what files sound like is held until the first sound search, and it is let go
    // after a while without one.
    void heldOnlyWhileUsed()
    {
        SampleSearch &search = m_model->searchForTesting();
        QVERIFY(!search.holdsTimbre());
        search.setTimbreRelease(300ms);
        m_model->findSimilar(QUrl::fromLocalFile(lib(u"a/tone.wav"_qs)));
        // Running until the results come, so that the window does not say "no matches" while
        // the store is read.
        QVERIFY(m_model->isSearchRunning());
        QVERIFY(waitForResults());
        QVERIFY(!m_model->isSearchRunning());
        QVERIFY(search.holdsTimbre());
        QTRY_VERIFY(!search.holdsTimbre());
        search.setTimbreRelease(5min);
        m_model->clearSearch();
        QTRY_VERIFY(m_model->searchResults().isEmpty());
    }

    void variantsComeFirst_data()
    {
        QTest::addColumn<QString>("sound");
        for (const auto &[name, recipe] : sounds)
            QTest::newRow(qPrintable(name)) << name;
    }
    void variantsComeFirst()
    {
        QFETCH(QString, sound);
        m_model->findSimilar(QUrl::fromLocalFile(lib(u"a/"_qs + sound + u".wav"_qs)));
        QVERIFY(waitForResults());
        QCOMPARE(m_model->searchMode(), SampleSearch::Mode::Similar);
        QCOMPARE(m_model->globalSearch(), true);
        // Every other file, nearest first; the file itself is not among them.
        const QStringList found = resultNames();
        QCOMPARE(found.size(), sounds.size() * 5 - 1);
        QStringList top = found.mid(0, 4);
        top.sort();
        QCOMPARE(top, (QStringList{sound + u" copié.wav"_qs, sound + u"-flac.flac"_qs,
                                   sound + u"-quiet.wav"_qs, sound + u"-trimmed.wav"_qs}));

        // The text narrows it as it narrows a name search, the order stays.
        m_model->setSearchText(u"quiet"_qs);
        QTRY_COMPARE(resultNames().size(), sounds.size());
        QCOMPARE(resultNames().first(), sound + u"-quiet.wav"_qs);
        m_model->clearSearch();
        QCOMPARE(m_model->searchMode(), SampleSearch::Mode::Names);
        QTRY_VERIFY(m_model->searchResults().isEmpty());
    }

    // Identical decoded audio and nothing else: not the quieter or trimmed versions.
    void copiesAreIdenticalAudioOnly()
    {
        m_model->showCopies(QUrl());
        QVERIFY(waitForResults());
        const QStringList names = resultNames();
        const QList<int> groups = m_model->searchResultGroups();
        QCOMPARE(groups.size(), names.size());
        QMap<int, QStringList> byGroup;
        for (qsizetype i = 0; i < names.size(); ++i)
            byGroup[groups[i]].append(names[i]);
        QStringList found;
        for (QStringList &group : byGroup) {
            group.sort();
            found.append(group.join(u", "_qs));
        }
        found.sort();
        QStringList expected;
        for (const auto &[name, recipe] : sounds)
            expected.append(u"%1 copié.wav, %1-flac.flac, %1.wav"_qs.arg(name));
        expected.sort();
        QCOMPARE(found, expected);

        // Within folder b only the two copies there.
        m_model->showCopies(QUrl::fromLocalFile(lib(u"b"_qs)));
        QTRY_COMPARE(resultNames().size(), sounds.size() * 2);
        for (const QString &name : resultNames())
            QVERIFY2(name.contains(u"copié"_qs) || name.endsWith(u".flac"_qs), qPrintable(name));
    }

    // Keeping one copy sends the others to the desktop's trash, where they can be put back, and
    // their colours go to the one kept.
    void keepingOneCopyTrashesTheRestAndKeepsTags()
    {
        TagStore &tags = *m_fixture.store;
        const QUrl kept = QUrl::fromLocalFile(lib(u"a/snare.wav"_qs));
        const QUrl flac = QUrl::fromLocalFile(lib(u"b/snare-flac.flac"_qs));
        const QUrl copy = QUrl::fromLocalFile(lib(u"b/snare copié.wav"_qs));
        tags.setTags({FinderTag::Red}, kept);
        tags.setTags({FinderTag::Blue}, flac);
        tags.setTags({FinderTag::Green, FinderTag::Red}, copy);
        m_model->showCopies(QUrl());
        QTRY_VERIFY(resultNames().contains(u"snare.wav"_qs));
        m_model->keepOnlyCopy(kept);
        QTRY_VERIFY(!QFile::exists(flac.toLocalFile()) && !QFile::exists(copy.toLocalFile()));
        QVERIFY(QFile::exists(kept.toLocalFile()));
        const QDir trash(m_trashHome.filePath(u"Trash/files"_qs));
        QVERIFY(trash.exists(u"snare-flac.flac"_qs));
        QVERIFY(trash.exists(u"snare copié.wav"_qs));
        QTRY_COMPARE(tags.tagsFor(kept),
                     (FinderTagSet{FinderTag::Red, FinderTag::Blue, FinderTag::Green}));
        QVERIFY(tags.tagsFor(flac).isEmpty());
        QVERIFY(tags.tagsFor(copy).isEmpty());
        // The group is gone from the list once the index knows.
        QTRY_VERIFY(!resultNames().contains(u"snare.wav"_qs));
        QVERIFY(resultNames().contains(u"kick.wav"_qs));
    }
};

QTEST_GUILESS_MAIN(TestSimilarSounds)
#include "tst_similarsounds.moc"
