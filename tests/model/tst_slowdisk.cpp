// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// A share that answers late or never: the tree and the roots go on working, and the GUI thread
// is never the one that waits.
#include "FilePaths.h"
#include "LibraryFiles.h"
#include "ModelFixtures.h"

#include <QMutex>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <sys/stat.h>

namespace {

// Every call below `stalled` waits until released, as a sleeping disk does; every call made on
// the GUI thread is counted.
class StallingFiles final : public LibraryFiles
{
public:
    explicit StallingFiles(QString stalled) : m_stalled(std::move(stalled)) {}
    ~StallingFiles() override { release(); }
    Q_DISABLE_COPY_MOVE(StallingFiles)

    FileNode::Listing list(const QString &folder) const override
    {
        enter(folder);
        return LibraryFiles::list(folder);
    }
    Kind kind(const QString &path) const override
    {
        enter(path);
        return LibraryFiles::kind(path);
    }
    QString shareOf(const QString &path) const override
    {
        return FilePaths::isAtOrBelow(path, m_stalled) ? m_stalled : QStringLiteral("/");
    }
    void release()
    {
        const QMutexLocker lock(&m_mutex);
        m_released = true;
        m_answer.wakeAll();
    }
    int callsOnGuiThread() const { return m_onGuiThread.load(); }

private:
    void enter(const QString &path) const
    {
        if (QThread::currentThread() == QCoreApplication::instance()->thread())
            ++m_onGuiThread;
        if (!FilePaths::isAtOrBelow(path, m_stalled))
            return;
        const QMutexLocker lock(&m_mutex);
        while (!m_released)
            m_answer.wait(&m_mutex);
    }

    const QString m_stalled;
    mutable std::atomic<int> m_onGuiThread{0};
    mutable QMutex m_mutex;
    mutable QWaitCondition m_answer;
    bool m_released = false;
};

QStringList names(BrowserModel &model)
{
    return rowNames(model.visibleRows());
}

} // namespace

class TestSlowDisk : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A folder that stalls says so and keeps trying while the rest of the tree works; a FIFO
    // named like a sample (a file whose open never returns) is listed, indexed and selected
    // like any other.
    void stalledFolderLeavesTheTreeWorking()
    {
        ModelFixture f;
        f.touch("R/Drums/Kick 01.wav");
        f.touch("R/Drums/Kick 02.wav");
        f.touch("R/Stalled/snare.wav");
        QVERIFY(::mkfifo(QFile::encodeName(f.path("R/Drums/kick7.wav")).constData(), 0600) == 0);
        const auto files = std::make_shared<StallingFiles>(f.path("R/Stalled"));
        BrowserModel model(*f.prefs, f.path("index.plist"), true, nullptr, nullptr, files);
        QVERIFY(addFolders(model, {f.url("R")}) || model.roots().size() == 1);
        QTRY_COMPARE(model.roots().size(), 1);

        model.expand(model.roots().first());
        QTRY_COMPARE(names(model), QStringList({"R", "  Drums", "  Stalled"}));
        model.expand(model.node(f.url("R/Stalled")));
        QCOMPARE(names(model), QStringList({"R", "  Drums", "  Stalled", "    Loading…"}));
        model.expand(model.node(f.url("R/Drums")));
        QTRY_COMPARE(names(model).mid(2, 3),
                     QStringList({"    Kick 01.wav", "    Kick 02.wav", "    kick7.wav"}));
        model.setSelection(f.url("R/Drums/kick7.wav"));
        QCOMPARE(model.selectedFolder(), f.url("R/Drums"));
        QTRY_COMPARE_WITH_TIMEOUT(names(model).last(), QStringLiteral("    Not responding"), 5000);
        QTRY_VERIFY(!model.isIndexing());
        QCOMPARE(model.index()->size(), size_t(3)); // a FIFO is no sample to find

        // The live updates go on around it.
        QTest::qWait(300);
        f.touch("R/Drums/Kick 03.wav");
        QTRY_COMPARE_WITH_TIMEOUT(
            names(model).mid(2, 4),
            QStringList({"    Kick 01.wav", "    Kick 02.wav", "    Kick 03.wav", "    kick7.wav"}),
            5000);
        QCOMPARE(names(model).last(), QStringLiteral("    Not responding"));

        files->release();
        QTRY_COMPARE(names(model).last(), QStringLiteral("    snare.wav"));
        QCOMPARE(files->callsOnGuiThread(), 0);
    }

    // At start-up a root on a share that does not answer shows at once, as not responding, and
    // the other roots work; it is offline only once the disk says it is gone.
    void stalledRootAtStartUp()
    {
        ModelFixture f;
        f.touch("A/a.wav");
        f.touch("B/b.wav");
        f.mkdir("Gone");
        {
            auto first = f.makeModel();
            QVERIFY(addFolders(*first, {f.url("A"), f.url("B"), f.url("Gone")}));
        }
        QVERIFY(QDir(f.path("Gone")).removeRecursively());
        f.restart();
        const auto files = std::make_shared<StallingFiles>(f.path("B"));
        BrowserModel model(*f.prefs, f.path("index.plist"), false, nullptr, nullptr, files);
        QCOMPARE(model.roots().size(), 3);
        model.expand(model.roots().first());
        QTRY_COMPARE(names(model), QStringList({"A", "  a.wav", "B", "Gone"}));
        QTRY_COMPARE(model.offlineRoots(), f.urls({"Gone"}));
        QVERIFY(model.unansweredRoots().isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(model.unansweredRoots(), f.urls({"B"}), 5000);
        QCOMPARE(model.offlineRoots(), f.urls({"Gone"}));

        files->release();
        QTRY_VERIFY(model.unansweredRoots().isEmpty());
        QCOMPARE(model.offlineRoots(), f.urls({"Gone"}));
        QCOMPARE(model.roots().size(), 3);
        QCOMPARE(files->callsOnGuiThread(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSlowDisk)
#include "tst_slowdisk.moc"
