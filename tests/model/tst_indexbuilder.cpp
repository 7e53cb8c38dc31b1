// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "CancelFlag.h"
#include "FilePaths.h"
#include "Fold.h"
#include "IndexBuilder.h"
#include "SampleIndex.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

// One line of a tree to make, relative to its root: "d:folder", "f:file", "l:link>target",
// "p:fifo", "u:folder" (made unreadable once everything else exists). Bytes, so that names need
// not be UTF-8.
using Tree = QList<QByteArray>;

bool make(const QByteArray &root, const Tree &tree, std::vector<QByteArray> &locked)
{
    for (const QByteArray &line : tree) {
        const char kind = line.at(0);
        QByteArray rest = line.mid(2);
        QByteArray target;
        if (kind == 'l') {
            const qsizetype arrow = rest.indexOf('>');
            target = rest.mid(arrow + 1);
            rest = rest.left(arrow);
        }
        const QByteArray path = root + '/' + rest;
        // Parents first, whatever the line.
        for (qsizetype slash = path.indexOf('/', root.size() + 1); slash > 0;
             slash = path.indexOf('/', slash + 1))
            ::mkdir(path.left(slash).constData(), 0755);
        bool made = true;
        switch (kind) {
        case 'd':
            made = ::mkdir(path.constData(), 0755) == 0;
            break;
        case 'f': {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            made = fd >= 0;
            if (made)
                ::close(fd);
            break;
        }
        case 'l':
            made = ::symlink(target.constData(), path.constData()) == 0;
            break;
        case 'p':
            made = ::mkfifo(path.constData(), 0644) == 0;
            break;
        case 'u':
            locked.push_back(path);
            break;
        default:
            made = false;
        }
        if (!made)
            return false;
    }
    for (const QByteArray &path : locked) {
        if (::chmod(path.constData(), 0) != 0)
            return false;
    }
    return true;
}

bool isAudioName(const QByteArray &name)
{
    static const QList<QByteArray> extensions{"wav",  "wave", "aif", "aiff", "aifc",
                                              "caf",  "mp3",  "m4a", "aac",  "mp4",
                                              "flac", "au",   "snd", "ogg",  "oga"};
    const qsizetype dot = name.lastIndexOf('.');
    return dot >= 0 && extensions.contains(name.mid(dot + 1).toLower());
}

// The plain way: readdir, then lstat of every entry, one folder after another.
void referenceWalk(const QByteArray &folder, std::vector<QByteArray> &files)
{
    DIR *dir = ::opendir(folder.constData());
    if (dir == nullptr)
        return;
    std::vector<QByteArray> names;
    while (const dirent *entry = ::readdir(dir))
        names.emplace_back(entry->d_name);
    ::closedir(dir);
    for (const QByteArray &name : names) {
        if (name.startsWith('.'))
            continue;
        const QByteArray path = folder + '/' + name;
        struct stat status
        {};
        if (::lstat(path.constData(), &status) != 0)
            continue;
        if (S_ISDIR(status.st_mode))
            referenceWalk(path, files);
        else if (S_ISREG(status.st_mode) && isAudioName(name))
            files.push_back(path);
    }
}

std::shared_ptr<SampleIndex> referenceIndex(const QList<QByteArray> &roots)
{
    SampleIndex::Builder builder;
    for (const QByteArray &root : roots) {
        std::vector<QByteArray> files;
        referenceWalk(root, files);
        for (const QByteArray &file : files) {
            const QString path = FilePaths::decoded(file);
            const QByteArray utf8 = path.toUtf8();
            const QByteArray folded = fold(path.mid(path.lastIndexOf(u'/') + 1)).toUtf8();
            builder.append(std::string_view(utf8.constData(), size_t(utf8.size())),
                           std::string_view(folded.constData(), size_t(folded.size())));
        }
    }
    return builder.finish();
}

} // namespace

class TestIndexBuilder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listsWhatAPlainWalkFinds_data()
    {
        QTest::addColumn<Tree>("tree");
        QTest::addColumn<QList<QByteArray>>("roots"); // below the tree's root; "" is the root

        const QList<QByteArray> whole{""};
        QTest::newRow("nested packs, accented, decomposed and full-width names")
            << Tree{"f:top.flac",
                    "f:Pack/Kicks/Kick 01.wav",
                    "f:Pack/Kicks/Kick 02.wav",
                    "f:Pack/Snares/Snare.aiff",
                    "f:Pack/readme.txt",
                    "f:Caf\xc3\xa9/Caf\xc3\xa9 Hit.wav",
                    "f:Cafe\xcc\x81/Cafe\xcc\x81 Hit.wav",
                    "f:\xef\xbc\xa4\xef\xbd\x85\xef\xbd\x85\xef\xbd\x90/Stra\xc3\x9f"
                    "e.mp3",
                    "d:Empty/Deeper/Deepest"}
            << whole;
        QTest::newRow("hidden files and folders")
            << Tree{"f:.hidden.wav",     "f:.Hidden/x.wav",    "f:Pack/.x.wav",    "f:Pack/ok.wav",
                    "f:Pack/.git/y.wav", "f:Pack/Sub/.z.flac", "f:Pack/Sub/z.flac"}
            << whole;
        QTest::newRow("extensions")
            << Tree{"f:KICK.WAV",  "f:x.WaVe", "f:y.Flac", "f:z.wav.", "f:noext",  "f:wav",
                    "f:a.ogg",     "f:b.oga",  "f:c.snd",  "f:d.au",   "f:e.aifc", "f:f.wav.txt",
                    "f:g.txt.wav", "f:h.mp4",  "f:i.m4a",  "f:j.aac",  "f:k.caf",  "f:l.aif"}
            << whole;
        QTest::newRow("names that are not UTF-8")
            << Tree{"f:Pack/\xff\xfe.wav",  "f:\xe9t\xe9/clap.wav",    "f:\xe9t\xe9/\xe9.wav",
                    "f:Pack/\xc3.wav",      "f:Pack/\xef\xbf\xbd.wav", "f:Pack/\xef\xbe\x80x.wav",
                    "f:Pack/ok\xc3\xa9.wav"}
            << whole;
        QTest::newRow("newlines and other odd characters")
            << Tree{"f:a\nb.wav",       "f:Pack\nDir/c.wav", "f:tab\t.wav",  "f:back\\slash.wav",
                    "f:colon:.wav",     "f:quote\".wav",     "f:space .wav", "f: lead.wav",
                    "f:percent%20.wav", "f:star*?.wav"}
            << whole;
        QTest::newRow("links are not followed")
            << Tree{"f:Real/a.wav", "l:LinkToReal>Real",      "l:Real/link.wav>a.wav",
                    "l:loop>.",     "l:dangling.wav>nowhere", "l:Real/Up>.."}
            << whole;
        QTest::newRow("FIFOs are not files")
            << Tree{"p:pipe.wav", "p:Pack/pipe.flac", "f:Pack/real.wav"} << whole;
        // As root, permissions do not lock anything: both walks then see inside.
        QTest::newRow("unreadable folders")
            << Tree{"f:Locked/a.wav", "f:Locked/Inner/b.wav", "u:Locked",   "f:Open/c.wav",
                    "f:Half/d.wav",   "f:Half/Shut/e.wav",    "u:Half/Shut"}
            << whole;
        Tree many;
        for (int i = 0; i < 3000; ++i)
            many.append("f:Big/A rather long sample name to fill the buffer " +
                        QByteArray::number(i) + ".wav");
        many.append("f:Big/Sub/after.wav");
        QTest::newRow("a folder longer than one directory read") << many << whole;
        QTest::newRow("overlapping roots") << Tree{"f:Pack/a.wav", "f:Pack/Sub/b.wav", "f:c.wav"}
                                           << QList<QByteArray>{"", "Pack", "Pack/Sub"};
        QTest::newRow("no roots") << Tree{"f:a.wav"} << QList<QByteArray>{};
    }

    void listsWhatAPlainWalkFinds()
    {
        QFETCH(Tree, tree);
        QFETCH(QList<QByteArray>, roots);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray top = FilePaths::encoded(dir.path()) + "/tree";
        QVERIFY(::mkdir(top.constData(), 0755) == 0);
        std::vector<QByteArray> locked;
        const bool made = make(top, tree, locked);
        // Unlocked again whatever happens, so that the folder can be removed.
        const auto unlock = qScopeGuard([&] {
            for (const QByteArray &path : locked)
                ::chmod(path.constData(), 0755);
        });
        QVERIFY(made);

        QStringList rootPaths;
        QList<QByteArray> rootBytes;
        for (const QByteArray &root : roots) {
            rootBytes.append(root.isEmpty() ? top : top + '/' + root);
            rootPaths.append(FilePaths::decoded(rootBytes.last()));
        }
        CancelFlag flag;
        const std::shared_ptr<SampleIndex> built = IndexBuilder::buildIndex(rootPaths, flag);
        const std::shared_ptr<SampleIndex> expected = referenceIndex(rootBytes);

        QStringList builtPaths, expectedPaths;
        for (size_t i = 0; i < built->size(); ++i)
            builtPaths.append(built->pathString(i) + u" | "_qs +
                              QString::fromUtf8(built->folded(i)));
        for (size_t i = 0; i < expected->size(); ++i)
            expectedPaths.append(expected->pathString(i) + u" | "_qs +
                                 QString::fromUtf8(expected->folded(i)));
        QCOMPARE(builtPaths, expectedPaths);
        if (!tree.isEmpty() && !roots.isEmpty())
            QVERIFY(!builtPaths.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestIndexBuilder)
#include "tst_indexbuilder.moc"
