// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "BufferPool.h"
#include "CancelFlag.h"
#include "FilePaths.h"
#include "Fold.h"
#include "IndexBuffer.h"
#include "IndexBuilder.h"
#include "IndexFile.h"
#include "IndexJournal.h"
#include "IndexSnapshot.h"
#include "ModelFixtures.h"
#include "NameScan.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <random>
#include <unordered_map>

namespace {

// The independent fold: NFKD, non-spacing marks dropped, full case folding, NFC.
const char *pythonFold = R"(
import json, os, sys, unicodedata as u
def fold(s):
    s = ''.join(c for c in u.normalize('NFKD', s) if u.category(c) != 'Mn')
    return u.normalize('NFC', s.casefold())
)";

// The search as an independent walk (os.walk, no links, no hidden names) and that fold would give
// it, in order of folded name, then composed path.
const char *oracle = R"(
root, text, scope = sys.argv[1:4]
terms = fold(text).split()
hits = []
for folder, dirs, files in os.walk(root):
    dirs[:] = [d for d in dirs if not d.startswith('.')]
    inside = not scope or folder == scope or folder.startswith(scope + '/')
    for name in files:
        audio = name.lower().endswith(('.wav', '.aif')) and not name.startswith('.')
        if inside and audio and terms and all(t in fold(name) for t in terms):
            path = os.path.join(folder, name)
            hits.append((fold(name).encode(), u.normalize('NFC', path).encode(), path))
print(json.dumps([h[2] for h in sorted(hits)]))
)";

// The index file as a plain, unhurried encoder lays it out: the keys, then per entry its
// dictionary, path, folded name (and facts), the root array last, and the offset table.
const char *plistOracle = R"(
import json, sys
entries = json.load(sys.stdin)
facts = any(len(e) > 2 for e in entries)
def width(n): return 1 if n <= 0xFF else 2 if n <= 0xFFFF else 4 if n <= 0xFFFFFFFF else 8
def marker(kind, n):
    if n < 15: return bytes([kind << 4 | n])
    w = width(n)
    return bytes([kind << 4 | 15, 0x10 | w.bit_length() - 1]) + n.to_bytes(w, 'big')
def string(s):
    if s.isascii(): return marker(5, len(s)) + s.encode('ascii')
    b = s.encode('utf-16-be')
    return marker(6, len(b) // 2) + b
keys = ['path', 'folded'] + (['sound'] if facts else [])
k, n = len(keys), len(entries)
ref = width(k + (k + 1) * n)
objects = [string(key) for key in keys]
for i, e in enumerate(entries):
    d = k + (k + 1) * i
    refs = list(range(k)) + [d + v for v in range(1, k + 1)]
    objects.append(marker(13, k) + b''.join(r.to_bytes(ref, 'big') for r in refs))
    objects += [string(e[0]), string(e[1])]
    if facts: objects.append(marker(4, 8) + bytes.fromhex(e[2]))
objects.append(marker(10, n) + b''.join((k + (k + 1) * i).to_bytes(ref, 'big') for i in range(n)))
out, offsets = bytearray(b'bplist00'), []
for o in objects:
    offsets.append(len(out))
    out += o
table, w = len(out), width(offsets[-1])
for o in offsets: out += o.to_bytes(w, 'big')
out += bytes(6) + bytes([w, ref])
for v in (len(objects), len(objects) - 1, table): out += v.to_bytes(8, 'big')
open(sys.argv[1], 'wb').write(out)
)";

// Entries as (folded, path), in index order.
QList<std::pair<QString, QString>> entries(const SampleIndex &index)
{
    QList<std::pair<QString, QString>> list;
    for (size_t i = 0; i < index.size(); ++i)
        list.append({QString::fromStdString(std::string(index.folded(i))), index.pathString(i)});
    return list;
}

std::vector<std::string> absolute(const ModelFixture &f, const QStringList &relative)
{
    std::vector<std::string> paths;
    for (const QString &path : relative)
        paths.push_back(f.path(path).toStdString());
    return paths;
}

} // namespace

class TestSampleIndex : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The UTF-8 fold takes shortcuts for accented Latin, combining marks and full-width forms;
    // both folds must agree with Python's on every code point of those ranges, alone and between
    // others.
    void foldingMatchesPython()
    {
        std::vector<char32_t> pool{U'A', U'e', U'1', U' ', U'\u3099', U'\uAC00', U'\u00DF'};
        for (const auto &[first, last] :
             {std::pair{0x80, 0x370}, {0x1E00, 0x1F00}, {0xFF01, 0xFF5F}})
            for (char32_t c = char32_t(first); c < char32_t(last); ++c)
                pool.push_back(c);
        quint32 seed = 7;
        const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
        QStringList texts{"KICK 808.WAV", "Cafe\u0301", "ΣΊΣΥΦΟΣ"};
        // Every ASCII byte at every place in a word of eight.
        for (int shift = 0; shift < 8; ++shift) {
            QString ascii;
            for (int c = 0; c < 127; ++c)
                ascii.append(QChar((c + shift) % 127 + 1));
            texts.append(ascii);
        }
        for (char32_t c : pool)
            texts.append("k" + QString::fromUcs4(&c, 1) + "E");
        for (int i = 0; i < 3000; ++i) {
            std::u32string text;
            for (quint32 n = next() % 6 + 1; n > 0; --n)
                text.push_back(pool[(next() >> 8) % pool.size()]);
            texts.append(QString::fromStdU32String(text));
        }
        const auto result =
            TestSupport::python(QString::fromUtf8(pythonFold) +
                                    "print(json.dumps([fold(t) for t in json.load(sys.stdin)]))",
                                {}, QJsonDocument(QJsonArray::fromStringList(texts)).toJson());
        QCOMPARE(result.exitCode, 0);
        const QJsonArray folded = QJsonDocument::fromJson(result.out).array();
        QCOMPARE(folded.size(), texts.size());
        for (qsizetype i = 0; i < texts.size(); ++i) {
            std::string utf8;
            foldUtf8(texts[i].toStdString(), utf8);
            QCOMPARE(fold(texts[i]), folded[i].toString());
            QCOMPARE(QString::fromStdString(utf8), folded[i].toString());
        }
    }
    void buildSkipsHiddenAndLinks()
    {
        ModelFixture f;
        for (const char *name :
             {"R/KICK.WAV", "R/.hidden.wav", "R/.Hidden/inside.wav", "R/notes.txt",
              "R/Kit.bundle/in bundle.wav", "Outside/outside.wav", "R/Nested/deep.aif"})
            f.touch(QString::fromUtf8(name));
        f.mkdir("R/folder.wav");
        QVERIFY(QFile::link(f.path("R/KICK.WAV"), f.path("R/link.wav")));
        QVERIFY(QFile::link(f.path("Outside"), f.path("R/LinkedDir")));

        CancelFlag flag;
        auto index =
            IndexBuilder::buildIndex({f.path("R"), f.path("R/Nested"), f.path("missing")}, flag);
        QStringList paths;
        for (size_t i = 0; i < index->size(); ++i)
            paths.append(index->pathString(i) + " " + QString::fromUtf8(index->folded(i)));
        QCOMPARE(paths, (QStringList{f.path("R/Nested/deep.aif deep.aif"),
                                     f.path("R/Nested/deep.aif deep.aif"),
                                     f.path("R/Kit.bundle/in bundle.wav in bundle.wav"),
                                     f.path("R/KICK.WAV kick.wav")}));

        // A cancelled flag stops the walk.
        for (int i = 0; i < 3000; ++i)
            f.touch(QStringLiteral("Big/s%1.wav").arg(i));
        CancelFlag cancelled;
        cancelled.cancel();
        QVERIFY(IndexBuilder::buildIndex({f.path("Big")}, cancelled)->size() < 3000);
        QVERIFY(index->search({"deep"}, {}, cancelled).empty());

        // A stored index serves until the build lands, which always has the last word.
        SampleIndex::Builder stored;
        stored.append(f.path("R/stored only.wav").toStdString(), "stored only.wav");
        QVERIFY(IndexFile::write(*stored.finish(), f.path("index.plist")));
        for (int i = 0; i < 200; ++i)
            f.touch(QStringLiteral("R/Nested/many %1.wav").arg(i));
        f.prefs->setObject(QStringList{f.path("R/Nested")}, "rootFolderPaths");
        auto model = f.makeModel();
        QTRY_VERIFY(!model->isIndexing());
        QCOMPARE(model->index()->size(), size_t(201));
        QCOMPARE(model->index()->pathString(0), f.path("R/Nested/deep.aif"));

        // Once written, the index in use is the one read back from the file's snapshot: the
        // same entries, held in the file's pages rather than in memory of the process's own.
        QTRY_VERIFY(model->index()->memoryUsage() < 1024);
        QCOMPARE(model->index()->size(), size_t(201));
        QCOMPARE(model->index()->pathString(0), f.path("R/Nested/deep.aif"));
        model->setSearchText("deep");
        QTRY_COMPARE(model->searchResults().size(), qsizetype(1));
    }
    void fileRoundTripMatchesPython()
    {
        ModelFixture f;
        f.touch(QString::fromUtf8("R/Café Bass.wav"));
        f.touch("R/kick\nnewline.wav");
        f.touch("R/Drums/Snare 1.aif");
        CancelFlag flag;
        auto index = IndexBuilder::buildIndex({f.path("R")}, flag);
        const QString file = f.path("out/index.plist"), theirs = f.path("python.plist");
        QVERIFY(IndexFile::write(*index, file));
        // Python reads ours and writes one of its own.
        const auto result = TestSupport::python(
            "import plistlib,sys,json\n"
            "d=plistlib.load(open(sys.argv[1],'rb'))\n"
            "plistlib.dump([{'path':'/x/\u00c9t\u00e9.wav','folded':'ete.wav'}],"
            "open(sys.argv[2],'wb'),fmt=plistlib.FMT_BINARY)\n"
            "print(json.dumps([[e['path'],e['folded']] for e in d]))",
            {file, theirs});
        QCOMPARE(result.exitCode, 0);
        QJsonArray expected;
        for (size_t i = 0; i < index->size(); ++i)
            expected.append(QJsonArray{index->pathString(i), QString::fromUtf8(index->folded(i))});
        QCOMPARE(QJsonDocument::fromJson(result.out).array(), expected);
        QVERIFY(expected.contains(QJsonArray{f.path("R/kick\nnewline.wav"), "kick\nnewline.wav"}));
        QCOMPARE(entries(*IndexFile::read(file)), entries(*index));
        QFile written(file);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QCOMPARE(entries(*IndexFile::readBytes(written.readAll())), entries(*index));
        auto fromPython = IndexFile::read(theirs);
        QCOMPARE(fromPython->size(), size_t(1));
        QCOMPARE(fromPython->pathString(0), QString::fromUtf8("/x/Été.wav"));
    }
    // The snapshot beside the index file stands in for it only while it is the snapshot of that
    // very file and checks out; otherwise the index file is read, and nothing crashes.
    void snapshotStandsInForIndexFile_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("used");
        QTest::newRow("as written") << "" << true;
        QTest::newRow("index file replaced by another writer") << "replaced" << false;
        QTest::newRow("index file touched") << "touched" << false;
        QTest::newRow("snapshot truncated") << "truncated" << false;
        QTest::newRow("folded name offsets overwritten") << "offsets" << false;
        QTest::newRow("folder numbers out of range") << "folders" << false;
        QTest::newRow("facts not facts") << "facts" << false;
    }
    void snapshotStandsInForIndexFile()
    {
        QFETCH(QString, damage);
        QFETCH(bool, used);
        ModelFixture f;
        SampleIndex::Builder builder;
        SampleIndex::Builder other;
        for (const char *path : {"/R/Kick 1.wav", "/R/B/Caf\u00e9 2.wav", "/R/B/snare.aif"})
            builder.append(path, fold(QString::fromUtf8(path).section('/', -1)).toStdString(),
                           SoundFacts::analysed(120, 3, -9.5, -1, SoundFacts::Kind::Loop));
        other.append("/Other/hat.wav", "hat.wav");
        const auto index = builder.finish();
        const QString file = f.path("index.plist");
        QVERIFY(IndexFile::write(*index, file));
        QVERIFY(IndexFile::write(*other.finish(), f.path("other.plist")));
        const QString snapshot = IndexSnapshot::filePathFor(file);
        QVERIFY(QFileInfo::exists(snapshot));

        // Where each buffer starts in the snapshot: after the header (magic, stamp, journal
        // length, buffer lengths), each padded to 8 bytes.
        qint64 start = 8 + 4 * 8 + 8 + qint64(SampleIndex::layoutBuffers) * 8;
        std::vector<qint64> starts;
        for (const QByteArrayView buffer : index->layout()) {
            starts.push_back(start);
            start += (buffer.size() + 7) / 8 * 8;
        }
        const auto overwrite = [&](int buffer, QByteArray bytes) {
            QFile edit(snapshot);
            QVERIFY(edit.open(QIODevice::ReadWrite));
            QVERIFY(edit.seek(starts[size_t(buffer)]));
            QCOMPARE(edit.write(bytes), bytes.size());
        };
        if (damage == "replaced") {
            QVERIFY(QFile::remove(file));
            QVERIFY(QFile::copy(f.path("other.plist"), file));
        } else if (damage == "touched") {
            QFile touched(file);
            QVERIFY(touched.open(QIODevice::ReadWrite));
            QVERIFY(touched.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                        QFileDevice::FileModificationTime));
        } else if (damage == "truncated") {
            QVERIFY(QFile::resize(snapshot, QFileInfo(snapshot).size() - 8));
        } else if (damage == "offsets") {
            overwrite(6, QByteArray(4, '\x7f'));
        } else if (damage == "folders") {
            overwrite(2, QByteArray(4, '\x70'));
        } else if (damage == "facts") {
            overwrite(7, QByteArray(8, '\x7f'));
        }

        QCOMPARE(IndexSnapshot::read(file) != nullptr, used);
        QFile plist(file);
        QVERIFY(plist.open(QIODevice::ReadOnly));
        const auto fromPlist = IndexFile::readBytes(plist.readAll());
        const auto read = IndexFile::read(file);
        QCOMPARE(entries(*read), entries(*fromPlist));
        QCOMPARE(read->size(), damage == "replaced" ? size_t(1) : size_t(3));
        for (size_t entry = 0; entry < read->size(); ++entry)
            QCOMPARE(read->storedFacts(entry), fromPlist->storedFacts(entry));

        // A patch of an index read from the snapshot copies what it keeps out of the mapping.
        SampleIndex::Builder part;
        part.append("/R/B/clap.wav", "clap.wav");
        const auto patched = read->patched({"/R/B"}, {}, *part.finish());
        QStringList paths;
        for (size_t entry = 0; entry < patched->size(); ++entry)
            paths.append(patched->pathString(entry));
        QCOMPARE(paths, (damage == "replaced" ? QStringList{"/R/B/clap.wav", "/Other/hat.wav"}
                                              : QStringList{"/R/B/clap.wav", "/R/Kick 1.wav"}));
    }
    // The file must stay byte for byte what readers (ours, Python's, older versions) expect,
    // however the entries are encoded; large rows span the blocks the writer splits them into.
    void writtenFileIsByteExact_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("copies");
        QTest::addColumn<bool>("withFacts");
        const QString escaped = QString::fromStdString(FilePaths::escapedUtf8("\xE9t\xE9.wav"));
        QTest::newRow("empty") << QStringList{} << 0 << false;
        QTest::newRow("ascii") << QStringList{"kick.wav", "A much longer snare name.wav"} << 1
                               << false;
        QTest::newRow("non-ascii") << QStringList{"Café Bass.wav", "ΣΊΣΥΦΟΣ.wav"} << 1 << false;
        QTest::newRow("astral") << QStringList{"\U0001F941 Drum.wav", "x\U0001D11E.wav"} << 1
                                << false;
        QTest::newRow("escaped") << QStringList{escaped, "ok.wav"} << 1 << false;
        QTest::newRow("with facts") << QStringList{"kick.wav", "Café.wav"} << 3 << true;
        QTest::newRow("many blocks")
            << QStringList{"kick.wav", "Café.wav", "\U0001F941.wav", escaped, "snare.wav"} << 9000
            << false;
    }
    void writtenFileIsByteExact()
    {
        QFETCH(QStringList, names);
        QFETCH(int, copies);
        QFETCH(bool, withFacts);
        QTemporaryDir dir;
        SampleIndex::Builder builder;
        const QByteArray factBytes("\x10\x27\xF6\xFF\x38\xFF\x05\x01", 8);
        const SoundFacts facts = SoundFacts::fromBytes(factBytes).value_or(SoundFacts());
        for (int copy = 0; copy < copies; ++copy) {
            for (const QString &name : names) {
                // Folders deep enough that some paths need a two-byte length.
                const std::string path = QStringLiteral("%1/Pack %2/%3/%4")
                                             .arg(dir.path(), QString::number(copy % 70),
                                                  QString(copy % 7 * 40, u'd'), name)
                                             .toStdString();
                std::string folded;
                foldUtf8(name.toStdString(), folded);
                if (withFacts)
                    builder.append(path, folded, facts);
                else
                    builder.append(path, folded);
            }
        }
        const std::shared_ptr<SampleIndex> index = builder.finish();
        QCOMPARE(index->size(), size_t(names.size() * copies));
        QJsonArray list;
        for (size_t i = 0; i < index->size(); ++i) {
            QJsonArray entry{QString::fromStdString(index->path(i)),
                             QString::fromStdString(std::string(index->folded(i)))};
            if (withFacts)
                entry.append(QString::fromLatin1(index->storedFacts(i).toBytes().toHex()));
            list.append(entry);
        }
        const QString ours = dir.filePath("ours.plist"), theirs = dir.filePath("theirs.plist");
        QVERIFY(IndexFile::write(*index, ours));
        const auto result = TestSupport::python(QString::fromUtf8(plistOracle), {theirs},
                                                QJsonDocument(list).toJson());
        QCOMPARE(result.exitCode, 0);
        QFile ourFile(ours), theirFile(theirs);
        QVERIFY(ourFile.open(QIODevice::ReadOnly) && theirFile.open(QIODevice::ReadOnly));
        const QByteArray got = ourFile.readAll(), want = theirFile.readAll();
        qsizetype first = 0;
        while (first < got.size() && first < want.size() && got[first] == want[first])
            ++first;
        QVERIFY2(got == want, qPrintable(QStringLiteral("%1 bytes, want %2; first difference at %3")
                                             .arg(got.size())
                                             .arg(want.size())
                                             .arg(first)));
    }
    void corruptIndexFilesReadEmpty_data()
    {
        QTest::addColumn<QByteArray>("script");
        const QByteArray binary = "fmt=plistlib.FMT_BINARY";
        QTest::newRow("garbage") << QByteArray("b=b'not a plist at all'");
        QTest::newRow("truncated")
            << "b=plistlib.dumps([{'path':'/a.wav','folded':'a.wav'}]," + binary + ")[:-10]";
        QTest::newRow("root not an array") << "b=plistlib.dumps({'path':'/a'}," + binary + ")";
        QTest::newRow("element missing a key")
            << "b=plistlib.dumps([{'path':'/a.wav'}]," + binary + ")";
        QTest::newRow("value not text")
            << "b=plistlib.dumps([{'path':1,'folded':'a'}]," + binary + ")";
        QTest::newRow("xml plist")
            << QByteArray("b=plistlib.dumps([{'path':'/a.wav','folded':'a'}])");
    }
    void corruptIndexFilesReadEmpty()
    {
        QFETCH(QByteArray, script);
        ModelFixture f;
        const QString file = f.path("index.plist");
        QCOMPARE(TestSupport::python("import plistlib,sys\n" + QString::fromUtf8(script) +
                                         "\nopen(sys.argv[1],'wb').write(b)",
                                     {file})
                     .exitCode,
                 0);
        QVERIFY(IndexFile::read(file)->isEmpty());
        QVERIFY(IndexFile::read(f.path("missing.plist"))->isEmpty());
    }
    void searchMatchesIndependentWalk_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("selection"); // empty: global search
        QTest::addColumn<int>("hits");
        const auto row = [](const char *name, const QString &text, const char *selection,
                            int hits) {
            QTest::newRow(name) << text << QString::fromUtf8(selection) << hits;
        };
        row("two words any order", "808 kick", "", 2);
        row("same word twice", "808 808", "", 2);
        row("case, accents and width", QString::fromUtf8("CAFÉ ＫＥＹＳ"), "", 1);
        row("sharp s", "strasse", "", 1);
        row("spaces only", "   ", "", 0);
        row("tab separates terms", "kick\tlong", "", 1);
        row("same names ordered by path", "snare", "", 2);
        row("folder scope: its files and below, no sibling sharing a prefix", "kick", "S/Kick", 2);
        row("file selected scopes to its folder", "kick", "S/Kicks/kick-808 long.wav", 1);
    }
    void searchMatchesIndependentWalk()
    {
        QFETCH(QString, text);
        QFETCH(QString, selection);
        QFETCH(int, hits);
        ModelFixture f;
        for (const char *name :
             {"S/Kick/Kick 808.wav", "S/Kick/Sub/kick deep.wav", "S/Kicks/kick-808 long.wav",
              "S/Kick 2/kick two.wav", "S/Cafe\u0301 Keys.wav", "S/Straße.wav", "S/B/snare.wav",
              "S/A/snare.wav", "S/.hidden/kick.wav", "S/kick.txt"})
            f.touch(QString::fromUtf8(name));
        auto model = f.makeModel();
        QVERIFY(addFolders(*model, {f.url("S")}));
        QTRY_VERIFY(!model->isIndexing());
        model->setGlobalSearch(selection.isEmpty());
        if (!selection.isEmpty())
            model->setSelection(f.url(selection));
        QString scope = selection.isEmpty() ? QString() : f.path(selection);
        if (scope.endsWith(".wav"))
            scope = QFileInfo(scope).path();
        const auto result = TestSupport::python(
            QString::fromUtf8(pythonFold) + QString::fromUtf8(oracle), {f.path("S"), text, scope});
        QCOMPARE(result.exitCode, 0);
        QStringList want;
        for (const QJsonValue &path : QJsonDocument::fromJson(result.out).array())
            want.append(path.toString());
        QCOMPARE(want.size(), hits);

        QSignalSpy results(model.get(), &BrowserModel::searchResultsChanged);
        model->setSearchText(text);
        if (want.isEmpty())
            QTest::qWait(200);
        QTRY_VERIFY(results.count() > 0 || want.isEmpty());
        QStringList got;
        for (const FileNodePtr &node : model->searchResults())
            got.append(node->path());
        QCOMPARE(got, want);
    }
    void onlyLastSearchApplies()
    {
        ModelFixture f;
        f.touch("R/alpha.wav");
        f.touch("R/beta.wav");
        auto model = f.makeModel();
        QVERIFY(addFolders(*model, {f.url("R")}));
        model->setGlobalSearch(true);
        QTRY_VERIFY(!model->isIndexing());
        QSignalSpy results(model.get(), &BrowserModel::searchResultsChanged);
        model->setSearchText("alp");
        model->setSearchText("bet");
        QTRY_COMPARE(results.count(), 1);
        QCOMPARE(model->searchResults().first()->name(), QStringLiteral("beta.wav"));
        model->setSearchText("alpha");
        model->setSearchText(QString()); // cleared before the pause ends: the result is dropped
        QTest::qWait(150);
        QVERIFY(model->searchResults().isEmpty());

        // Two index builds in a row: one result applied, still indexing until it lands.
        QSignalSpy indexing(model.get(), &BrowserModel::isIndexingChanged);
        model->startIndexing();
        model->startIndexing();
        QVERIFY(model->isIndexing());
        QTRY_VERIFY(!model->isIndexing());
        QCOMPARE(indexing.count(), 2);
    }
    // Per row: roots; files before; files added; files or folders removed; the folders and the
    // trees the change names.
    // Entries appended in any order come out by folded name, then composed path, compared as
    // bytes. Large sets take the sort's two-thread paths; names recur across packs, in a folder
    // and the one below it, in the same folder by case, and composed beside decomposed.
    void builderOrdersAsReference_data()
    {
        QTest::addColumn<int>("packs");
        QTest::newRow("a few entries") << 3;
        QTest::newRow("more than one thread sorts") << 900;
    }
    void builderOrdersAsReference()
    {
        QFETCH(int, packs);
        const QStringList words = {QStringLiteral("Kick"),       QStringLiteral("kick"),
                                   QStringLiteral("Cafe\u0301"), QStringLiteral("Caf\u00e9"),
                                   QStringLiteral("Ｄｅｅｐ"),   QStringLiteral("Snare Long Tail"),
                                   QStringLiteral("Sub")};
        QStringList paths;
        for (int pack = 0; pack < packs; ++pack) {
            const QString root = QStringLiteral("/lib/Pack %1").arg(pack % 97);
            const QStringList folders = {
                root, root + QStringLiteral("/Sub"), root + QStringLiteral("/Sub/Deeper"),
                root + QStringLiteral(" Sub"), root + QStringLiteral("-x")};
            for (int n = 0; n < 80; ++n) {
                const QString name = words[n % words.size()] + QLatin1Char(' ') +
                                     QString::number((n * 7 + pack) % 13) + QStringLiteral(".wav");
                paths.append(folders[(n / 3 + pack) % folders.size()] + QLatin1Char('/') + name);
            }
        }
        std::mt19937 shuffle(42);
        std::shuffle(paths.begin(), paths.end(), shuffle);
        SampleIndex::Builder builder;
        for (const QString &path : paths) {
            const QByteArray bytes = path.toUtf8();
            const QByteArray folded = fold(path.section(QLatin1Char('/'), -1)).toUtf8();
            builder.append(std::string_view(bytes.constData(), size_t(bytes.size())),
                           std::string_view(folded.constData(), size_t(folded.size())));
        }
        const std::shared_ptr<SampleIndex> index = builder.finish();

        std::vector<std::pair<QByteArray, QByteArray>> want;
        for (const QString &path : paths)
            want.emplace_back(fold(path.section(QLatin1Char('/'), -1)).toUtf8(),
                              path.normalized(QString::NormalizationForm_C).toUtf8());
        std::sort(want.begin(), want.end());
        QCOMPARE(index->size(), want.size());
        for (size_t i = 0; i < want.size(); ++i) {
            const QByteArray got =
                index->pathString(i).normalized(QString::NormalizationForm_C).toUtf8();
            if (got != want[i].second)
                QFAIL(qPrintable(
                    QStringLiteral("entry %1: %2, want %3")
                        .arg(i)
                        .arg(QString::fromUtf8(got), QString::fromUtf8(want[i].second))));
        }
    }

    void patchEqualsFullBuild_data()
    {
        QTest::addColumn<QString>("change");
        const QString drums = "R/A/kick 2.wav|R/B/kick 1.wav|R/B/snare.wav";
        QTest::newRow("file added") << QString("R;%1;R/A/kick 1.wav;;R/A;").arg(drums);
        QTest::newRow("file removed") << QString("R;%1;;R/B/kick 1.wav;R/B;").arg(drums);
        QTest::newRow("folder moved in")
            << QString("R;%1;R/New/Sub/clap.wav|R/New/kick 3.wav;;R;R/New").arg(drums);
        QTest::newRow("folder deleted") << QString("R;%1;;R/B;R;R/B").arg(drums);
        QTest::newRow("overlapping roots keep duplicates")
            << QString("R|R/A;%1;R/A/hat.wav;;R/A;").arg(drums);
        QTest::newRow("hidden folder stays out")
            << QString("R;%1;R/.cache/x.wav|R/B/.y.wav;;R/B;R/.cache").arg(drums);
        QTest::newRow("composed and decomposed names") << QString(
            "R;R/A/Caf\u00e9 1.wav|R/B/cafe 1.wav;R/A/Cafe\u0301 1.wav|R/C/CAF\u00c9 1.wav;;"
            "R/A|R/C;");
        QTest::newRow("sibling folders sharing a prefix")
            << QString("R;R/Kick/a.wav|R/Kicks/a.wav|R/Kick/Sub/a.wav;R/Kick 2/a.wav|R/Kick/b.wav;"
                       "R/Kicks/a.wav;R/Kick|R/Kicks|R/Kick 2;");
    }
    void patchEqualsFullBuild()
    {
        QFETCH(QString, change);
        QList<QStringList> parts;
        for (const QString &part : change.split(';'))
            parts.append(part.isEmpty() ? QStringList() : part.split('|'));
        const auto &[roots, before, added, removed, folders, trees] =
            std::tuple(parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]);
        ModelFixture f;
        for (const QString &file : before)
            f.touch(file);
        QStringList rootPaths;
        for (const QString &root : roots)
            rootPaths.append(f.path(root));
        CancelFlag flag;
        const auto old = IndexBuilder::buildIndex(rootPaths, flag);
        for (const QString &file : added)
            f.touch(file);
        for (const QString &gone : removed) {
            QFileInfo info(f.path(gone));
            QVERIFY(info.isDir() ? QDir(info.filePath()).removeRecursively()
                                 : QFile::remove(info.filePath()));
        }
        const auto part =
            IndexBuilder::buildPart(rootPaths, absolute(f, folders), absolute(f, trees), flag);
        const auto patched = old->patched(absolute(f, folders), absolute(f, trees), *part);
        const auto full = IndexBuilder::buildIndex(rootPaths, flag);
        QCOMPARE(entries(*patched), entries(*full));
        // What was known of a file follows it: the patch pairs its entries with the old ones as
        // a walk over both whole lists does, re-listed files included.
        QCOMPARE(patched->matching(*old, flag), full->matching(*old, flag));

        // The order itself, checked apart from the index's own comparison: folded name, then the
        // composed path byte by byte.
        auto expected = entries(*full);
        std::stable_sort(expected.begin(), expected.end(), [](const auto &a, const auto &b) {
            const QByteArray fa = a.first.toUtf8(), fb = b.first.toUtf8();
            if (fa != fb)
                return fa < fb;
            return a.second.normalized(QString::NormalizationForm_C).toUtf8() <
                   b.second.normalized(QString::NormalizationForm_C).toUtf8();
        });
        QCOMPARE(entries(*full), expected);
    }

    // Live changes appended to the journal read back as the index they made, merged into one
    // patch; a damaged last record costs that change alone, and a replaced index file drops
    // the journal that extended the one before.
    void journalReplaysLiveChanges_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("steps"); // added;removed;folders;trees, '#' between steps
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("stepsKept");
        const QString drums = "R/A/kick 2.wav|R/B/kick 1.wav|R/B/snare.wav|R/B/Sub/hat.wav";
        const QString pack = "R/P/one.wav;;R;R/P#R/P/two.wav;;R/P;#R/P/Deep/three.wav;;;R/P";
        QTest::newRow("a pack unpacking") << drums << pack << "none" << 3;
        QTest::newRow("added, then its tree deleted")
            << drums << "R/B/Sub/tom.wav;;R/B/Sub;#;R/B;R;R/B"
            << "none" << 2;
        QTest::newRow("a folder emptied, then filled again")
            << drums << ";R/B/kick 1.wav|R/B/snare.wav;R/B;#R/B/clap.wav;;R/B;"
            << "none" << 2;
        QTest::newRow("last record cut short") << drums << pack << "torn" << 2;
        QTest::newRow("last record altered") << drums << pack << "altered" << 2;
        QTest::newRow("index file replaced since") << drums << pack << "replaced" << 0;
        QTest::newRow("journal removed") << drums << pack << "removed" << 0;
    }
    void journalReplaysLiveChanges()
    {
        QFETCH(QString, before);
        QFETCH(QString, steps);
        QFETCH(QString, damage);
        QFETCH(int, stepsKept);
        ModelFixture f;
        for (const QString &file : before.split('|'))
            f.touch(file);
        const QStringList roots{f.path("R")};
        const QString file = f.path("index.plist");
        CancelFlag flag;
        std::vector<std::shared_ptr<const SampleIndex>> states{
            IndexBuilder::buildIndex(roots, flag)};
        QVERIFY(IndexFile::write(*states.back(), file));
        for (const QString &step : steps.split('#')) {
            QList<QStringList> parts;
            for (const QString &part : step.split(';'))
                parts.append(part.isEmpty() ? QStringList() : part.split('|'));
            for (const QString &added : parts[0])
                f.touch(added);
            for (const QString &gone : parts[1]) {
                QFileInfo info(f.path(gone));
                QVERIFY(info.isDir() ? QDir(info.filePath()).removeRecursively()
                                     : QFile::remove(info.filePath()));
            }
            IndexJournal::Change change{absolute(f, parts[2]), absolute(f, parts[3]), nullptr};
            change.replacement = IndexBuilder::buildPart(roots, change.folders, change.trees, flag);
            states.push_back(
                states.back()->patched(change.folders, change.trees, *change.replacement));
            QVERIFY(IndexJournal::append(file, change));
        }
        QCOMPARE(entries(*states.back()), entries(*IndexBuilder::buildIndex(roots, flag)));

        QFile journal(IndexJournal::filePathFor(file));
        if (damage == "torn") {
            QVERIFY(journal.resize(journal.size() - 3));
        } else if (damage == "altered") {
            QVERIFY(journal.open(QIODevice::ReadWrite));
            QVERIFY(journal.seek(journal.size() - 5));
            QVERIFY(journal.write("X") == 1);
            journal.close();
        } else if (damage == "replaced") {
            QFile plist(file);
            QVERIFY(plist.open(QIODevice::ReadWrite));
            QVERIFY(plist.setFileTime(QDateTime::currentDateTime().addSecs(5),
                                      QFileDevice::FileModificationTime));
        } else if (damage == "removed") {
            QVERIFY(journal.remove());
        }
        QCOMPARE(entries(*IndexFile::read(file)), entries(*states[size_t(stepsKept)]));
        // The changes read once come from a snapshot that holds them from then on, mapped, and
        // a change appended later still counts.
        const auto again = IndexFile::read(file);
        QCOMPARE(entries(*again), entries(*states[size_t(stepsKept)]));
        quint64 covered = 0;
        QCOMPARE(IndexSnapshot::read(file, &covered) != nullptr, damage != "replaced");
        QCOMPARE(covered > 0, stepsKept > 0);
        if (damage == "none") {
            f.touch("R/A/late.wav");
            IndexJournal::Change late{{f.path("R/A").toStdString()}, {}, nullptr};
            late.replacement = IndexBuilder::buildPart(roots, late.folders, {}, flag);
            QVERIFY(IndexJournal::append(file, late));
            QCOMPARE(entries(*IndexFile::read(file)),
                     entries(*IndexBuilder::buildIndex(roots, flag)));
            states.push_back(IndexBuilder::buildIndex(roots, flag));
        }
        // Appending goes on after a damaged record only for a journal that still extends the
        // file; a fresh write starts it again.
        const IndexJournal::Change none{{}, {}, IndexBuilder::buildPart(roots, {}, {}, flag)};
        QCOMPARE(IndexJournal::append(file, none), damage != "replaced" && damage != "removed");
        QVERIFY(IndexFile::write(*states.back(), file));
        QVERIFY(IndexJournal::append(file, none));
        QCOMPARE(entries(*IndexFile::read(file)), entries(*states.back()));
    }

    // While a burst of changes lasts, the memory of a dropped buffer serves the next one of
    // about its size; afterwards it goes back to the system, and buffers behave the same
    // either way.
    void buffersAreRecycledDuringBursts_data()
    {
        QTest::addColumn<size_t>("first");
        QTest::addColumn<size_t>("second");
        QTest::addColumn<bool>("reused");
        QTest::newRow("same size") << size_t(3 << 20) << size_t(3 << 20) << true;
        QTest::newRow("a little larger") << size_t(3 << 20) << size_t((3 << 20) + 4096) << true;
        QTest::newRow("much smaller") << size_t(8 << 20) << size_t(2 << 20) << false;
        QTest::newRow("much larger") << size_t(2 << 20) << size_t(8 << 20) << false;
        QTest::newRow("small buffers") << size_t(4096) << size_t(4096) << false;
    }
    void buffersAreRecycledDuringBursts()
    {
        QFETCH(size_t, first);
        QFETCH(size_t, second);
        QFETCH(bool, reused);
        const auto filled = [](size_t bytes, char value) {
            IndexBuffer<char> buffer;
            buffer.resize(bytes);
            std::fill_n(buffer.mutableData(), bytes, value);
            return buffer;
        };
        BufferPool::setKeeping(true);
        const void *firstData = nullptr;
        {
            const IndexBuffer<char> buffer = filled(first, 'a');
            firstData = buffer.data();
        }
        QCOMPARE(BufferPool::keptBytes() >= first, first >= BufferPool::largeBlock);
        IndexBuffer<char> next = filled(second, 'b');
        // The heap may hand a small block out again by itself.
        if (first >= BufferPool::largeBlock)
            QCOMPARE(next.data() == firstData, reused);
        QVERIFY(std::all_of(next.begin(), next.end(), [](char c) { return c == 'b'; }));
        next.resize(second + 10);
        QCOMPARE(next.back(), '\0');
        QCOMPARE(next[second - 1], 'b');
        BufferPool::setKeeping(false);
        QCOMPARE(BufferPool::keptBytes(), size_t(0));
    }

    // Names are told apart by a hash before their text; two names of one hash must still be
    // two names, wherever in the walk each first appears.
    void namesOfOneHashStayApart_data()
    {
        QTest::addColumn<int>("copies");
        QTest::addColumn<int>("filler");
        QTest::addColumn<bool>("strayFirst");
        QTest::newRow("one of each") << 1 << 0 << false;
        QTest::newRow("many of each, interleaved") << 5 << 0 << false;
        QTest::newRow("the later name first") << 3 << 0 << true;
        QTest::newRow("among many names, on two threads") << 4 << 100000 << false;
    }
    void namesOfOneHashStayApart()
    {
        QFETCH(int, copies);
        QFETCH(int, filler);
        QFETCH(bool, strayFirst);
        // Two names whose hashes agree in the 32 bits the sort keys on: a birthday search.
        std::unordered_map<quint32, std::string> seen;
        std::string first, second;
        for (int i = 0; second.empty(); ++i) {
            const std::string name = "hit " + std::to_string(i) + ".wav";
            const auto [it, added] =
                seen.try_emplace(quint32(std::hash<std::string_view>()(name)), name);
            if (!added) {
                first = it->second;
                second = name;
            }
        }
        if (strayFirst)
            std::swap(first, second);
        SampleIndex::Builder builder;
        std::vector<std::pair<std::string, std::string>> expected; // folded name, path
        const auto add = [&](const std::string &folder, const std::string &name) {
            builder.append(folder + "/" + name, name);
            expected.emplace_back(name, folder + "/" + name);
        };
        for (int i = 0; i < filler; ++i)
            add("/L/F" + std::to_string(i % 97), "fill " + std::to_string(i) + ".wav");
        // The lesser name lies in folders that sort last, none below another: names taken for
        // one would come out in folder order, the wrong one.
        const auto folderFor = [&](const std::string &name, int copy) {
            return (name == std::min(first, second) ? "/L/Z" : "/L/A") + std::to_string(copy);
        };
        for (int copy = 0; copy < copies; ++copy) {
            add(folderFor(first, copy), first);
            add(folderFor(second, copy), second);
            add(folderFor(first, copy) + "b", first);
        }
        std::sort(expected.begin(), expected.end());
        const auto index = builder.finish();
        QCOMPARE(index->size(), expected.size());
        size_t misplaced = 0;
        for (size_t entry = 0; entry < index->size(); ++entry) {
            misplaced += index->folded(entry) != expected[entry].first ||
                         index->path(entry) != expected[entry].second;
        }
        QCOMPARE(misplaced, size_t(0));
        for (const std::string &name : {first, second}) {
            const std::vector<quint32> hits =
                index->search({name}, SampleIndex::Scope(), CancelFlag());
            QCOMPARE(hits.size(), size_t(name == first ? 2 * copies : copies));
        }
    }

    // A walk's threads fill builders apart; joined, they make the index one builder would.
    void partsJoinAsOneBuilder_data()
    {
        QTest::addColumn<int>("firstFiles");
        QTest::addColumn<int>("secondFiles");
        QTest::addColumn<bool>("facts");
        QTest::newRow("both hold files") << 40 << 60 << false;
        QTest::newRow("the first is empty") << 0 << 30 << false;
        QTest::newRow("the second is empty") << 30 << 0 << false;
        QTest::newRow("large parts") << 150000 << 120000 << false;
        QTest::newRow("with the facts of an index file") << 40 << 60 << true;
    }
    void partsJoinAsOneBuilder()
    {
        QFETCH(int, firstFiles);
        QFETCH(int, secondFiles);
        QFETCH(bool, facts);
        SampleIndex::Builder first, second, whole;
        // Each part lists folders of its own; names recur across them, as packs' names do.
        const auto fill = [&](SampleIndex::Builder &part, const char *root, int files) {
            std::optional<quint32> folder;
            for (int i = 0; i < files; ++i) {
                const std::string folderPath = std::string(root) + "/F" + std::to_string(i / 7);
                const std::string name = "Kick " + std::to_string(i % 11) + ".wav";
                const std::string folded = fold(QString::fromStdString(name)).toStdString();
                if (i % 7 == 0)
                    folder = part.addFolder(folderPath);
                const SoundFacts heard =
                    SoundFacts::analysed(90 + i % 50, 1, -12, -1, SoundFacts::Kind::OneShot);
                if (facts) {
                    part.append(folderPath + "/" + name, folded, heard);
                    whole.append(folderPath + "/" + name, folded, heard);
                } else {
                    part.append(*folder, name, folded);
                    whole.append(folderPath + "/" + name, folded);
                }
            }
        };
        fill(first, "/A", firstFiles);
        fill(second, "/B", secondFiles);
        first.adjoin(second);
        QCOMPARE(first.size(), size_t(firstFiles + secondFiles));
        const auto joined = first.finish();
        const auto expected = whole.finish();
        QCOMPARE(joined->size(), expected->size());
        QCOMPARE(joined->hasStoredFacts(), facts);
        size_t differing = 0;
        for (size_t entry = 0; entry < joined->size(); ++entry) {
            differing += joined->path(entry) != expected->path(entry) ||
                         joined->folded(entry) != expected->folded(entry) ||
                         !(joined->storedFacts(entry) == expected->storedFacts(entry));
        }
        QCOMPARE(differing, size_t(0));
    }

    // A buffer grows by appends, its own bytes among them, across the size where blocks start
    // to be moved by the system rather than copied; what it held must survive every move.
    void buffersGrowKeepingWhatTheyHold_data()
    {
        QTest::addColumn<size_t>("start");
        QTest::addColumn<size_t>("appended");
        QTest::addColumn<bool>("fromItself");
        QTest::addColumn<bool>("keeping");
        // In elements of four bytes: a mebibyte is the smallest large block.
        const size_t mib = (size_t(1) << 20) / sizeof(quint32);
        QTest::newRow("small, doubling") << size_t(1000) << size_t(1000) << false << false;
        QTest::newRow("small to large") << mib / 2 << mib << false << false;
        QTest::newRow("large, within its block") << 2 * mib << size_t(4096) << false << false;
        QTest::newRow("large, past its block") << 3 * mib << 5 * mib << false << false;
        QTest::newRow("its own bytes, small to large") << mib - 16 << mib - 16 << true << false;
        QTest::newRow("its own bytes, large") << 3 * mib << 3 * mib << true << false;
        QTest::newRow("its own bytes, during a burst") << 3 * mib << 3 * mib << true << true;
    }
    void buffersGrowKeepingWhatTheyHold()
    {
        QFETCH(size_t, start);
        QFETCH(size_t, appended);
        QFETCH(bool, fromItself);
        QFETCH(bool, keeping);
        BufferPool::setKeeping(keeping);
        const auto valueAt = [](size_t i) { return quint32(i * 2654435761u); };
        IndexBuffer<quint32> buffer;
        for (size_t i = 0; i < start; ++i)
            buffer.push_back(valueAt(i));
        if (fromItself) {
            buffer.append(buffer.data(), appended);
        } else {
            std::vector<quint32> more(appended);
            for (size_t i = 0; i < appended; ++i)
                more[i] = valueAt(start + i);
            buffer.append(more.data(), more.size());
        }
        QCOMPARE(buffer.size(), start + appended);
        size_t wrong = 0;
        for (size_t i = 0; i < buffer.size(); ++i) {
            const size_t from = fromItself && i >= start ? i - start : i;
            wrong += buffer[i] != valueAt(from);
        }
        QCOMPARE(wrong, size_t(0));
        // A copy is a buffer of its own, and grows apart from the original.
        IndexBuffer<quint32> copy = buffer;
        copy.push_back(7);
        QCOMPARE(copy.size(), buffer.size() + 1);
        QCOMPARE(copy[buffer.size() - 1], buffer.back());
        buffer = {};
        copy = {};
        BufferPool::setKeeping(false);
        QCOMPARE(BufferPool::keptBytes(), size_t(0));
    }

    // The search against a plain substring test of every name. Rows with filler names make the
    // buffer large enough for two threads; the names of a row land at its start, its end or
    // around the entry where the threads part.
    void searchFindsWhatEachNameHolds_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("filler");
        QTest::addColumn<int>("hits");
        const QStringList edges = {"a kick", "kick", "zz kick", "zz snare"};
        const QStringList split = {"f0050000 kick", "f0050000 kicks", "f0050000 kickz"};
        const QString longTerm = "extremely_long_sample_name_with_many_words";
        const QStringList longNames = {"an " + longTerm + " 01", longTerm.chopped(1) + "z",
                                       QString(longTerm).replace(11, 1, "-"),
                                       QString(longTerm).replace(33, 1, "-")};
        const QStringList foreign = {QString::fromUtf8("ΚΡΟΥΣΤΆ kick"),
                                     QString::fromUtf8("太鼓 loop"), "taiko",
                                     QString::fromUtf8("Straße")};
        for (const int filler : {0, 100000}) {
            const auto row = [&](const char *name, const QStringList &names, const char *text,
                                 int hits) {
                QTest::addRow("%s, %d filler names", name, filler)
                    << names << QString::fromUtf8(text) << filler << hits;
            };
            row("at the buffer's start and end", edges, "kick", 3);
            row("a name's last byte", edges, "e", 1);
            row("not across the NUL between names", {"kicka", "bsnare"}, "ab", 0);
            row("term longer than 32 bytes", longNames, qPrintable(longTerm), 1);
            row("17 bytes, same first and last bytes elsewhere", longNames, "long_sample_name_", 3);
            row("non-ASCII", foreign, "太鼓", 1);
            row("folded non-ASCII", foreign, "κρουστα", 1);
            row("two terms", foreign, "ss stra", 1);
        }
        QTest::addRow("around the split") << split << "kick" << 100000 << 3;
        QTest::addRow("every filler name") << split << "q" << 100000 << 100000;
        QTest::addRow("two terms around the split") << split << "kicks f00500" << 100000 << 1;
    }
    void searchFindsWhatEachNameHolds()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, text);
        QFETCH(int, filler);
        QFETCH(int, hits);
        for (int i = 0; i < filler; ++i)
            names.append(QStringLiteral("f%1 qqqqqqqqqqqqqqqqqq").arg(i, 7, 10, QLatin1Char('0')));
        SampleIndex::Builder builder;
        for (qsizetype i = 0; i < names.size(); ++i) {
            const std::string path =
                QStringLiteral("/lib/%1/%2").arg(i % 7).arg(names[i]).toStdString();
            builder.append(path, fold(names[i]).toStdString());
        }
        const std::shared_ptr<SampleIndex> index = builder.finish();
        std::vector<std::string> terms;
        for (const QString &term : fold(text).split(QLatin1Char(' ')))
            terms.push_back(term.toStdString());

        std::vector<quint32> want;
        for (size_t entry = 0; entry < index->size(); ++entry) {
            if (std::all_of(terms.begin(), terms.end(), [&](const std::string &term) {
                    return index->folded(entry).find(term) != std::string_view::npos;
                }))
                want.push_back(quint32(entry));
        }
        QCOMPARE(want.size(), size_t(hits));
        CancelFlag flag;
        QCOMPARE(index->search(terms, {}, flag), want);
        flag.cancel();
        QVERIFY(index->search(terms, {}, flag).empty());
    }

    // Each way of scanning against a plain substring test, over random names of every length
    // around a block's 64 bytes, from an entry number other than 0.
    void scanMethodsAgree_data()
    {
        QTest::addColumn<int>("method");
        QTest::newRow("fastest") << int(NameScan::Method::Fastest);
        QTest::newRow("SSE2") << int(NameScan::Method::Sse2);
        QTest::newRow("per name") << int(NameScan::Method::PerName);
    }
    void scanMethodsAgree()
    {
        QFETCH(int, method);
        const std::string alphabet[] = {"a", "b", "k", " ", "\xc3\xa9"};
        std::mt19937 random(7);
        std::vector<std::string> names(20000);
        std::string buffer;
        for (std::string &name : names) {
            for (size_t length = random() % 90 + 1; name.size() < length;)
                name += alphabet[random() % std::size(alphabet)];
            buffer += name;
            buffer += '\0';
        }
        const std::string terms[] = {"a",
                                     "ab",
                                     "k a",
                                     "aaaa",
                                     "\xc3\xa9",
                                     "a\xc3\xa9",
                                     names[5].substr(0, 20),
                                     names[7].substr(3, 40),
                                     ""};
        const size_t firstEntry = 1000;
        for (const std::string &term : terms) {
            std::vector<quint32> want;
            for (size_t i = 0; i < names.size(); ++i) {
                if (names[i].find(term) != std::string::npos)
                    want.push_back(quint32(firstEntry + i));
            }
            QVERIFY(!want.empty());
            const NameScan scan(term, NameScan::Method(method));
            CancelFlag flag;
            std::vector<quint32> got;
            QVERIFY(scan.find(buffer, firstEntry, flag, got));
            QCOMPARE(got, want);
            flag.cancel();
            QVERIFY(!scan.find(buffer, firstEntry, flag, got));
        }
    }
};

QTEST_GUILESS_MAIN(TestSampleIndex)
#include "tst_sampleindex.moc"
