// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// GUI-thread time per event of the real window over a large library: typing a search, scrolling
// through the results and expanding a big folder. Every event the application delivers on the
// GUI thread is timed (outermost delivery only, so an event sent from inside another counts once,
// with its sender); per scenario the longest event and the 99th percentile are printed.
// GUI_BENCH_TRACE_MS=N lists every event of N ms or more on stderr. Not run by ctest.
//
// usage: gui_thread_bench ROOT INDEX_FILE [SCROLL_ROWS] [FOLDER_FILES]
// ROOT is the library (a root of the app), INDEX_FILE an index of it (copied, never written);
// a folder of FOLDER_FILES empty .wav files is made in ROOT for the expansion and removed again.
#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "ContentView.h"
#include "MemoryPolicy.h"
#include "Preferences.h"
#include "ResultsModel.h"
#include "ResultsTableView.h"
#include "SearchBar.h"
#include "SidebarView.h"
#include "SilentOutput.h"
#include "TreeListView.h"
#include "TreeRowModel.h"
#include "WavelarkApp.h"
#include "probe/EventLoopWaits.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QMetaEnum>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

struct Delivery
{
    double ms = 0;
    double cpuMs = 0;
    int type = 0;
    QString receiver;
};

// Times each outermost event delivery while recording.
class TimingApplication final : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (!m_recording || m_depth > 0)
            return deliver(receiver, event);
        const int type = event->type();
        // Read before delivery: a deferred delete ends the receiver inside it.
        const char *receiverClass = receiver->metaObject()->className();
        QElapsedTimer clock;
        clock.start();
        const qint64 cpuStart = threadCpuNs();
        const bool handled = deliver(receiver, event);
        const double elapsed = double(clock.nsecsElapsed()) / 1e6;
        const double cpu = double(threadCpuNs() - cpuStart) / 1e6;
        m_longestCpuMs = std::max(m_longestCpuMs, cpu);
        if (m_traceFromMs > 0 && elapsed >= m_traceFromMs)
            std::fprintf(stderr, "event %s/%s %.2f ms, ended at %.6f s monotonic\n",
                         QMetaEnum::fromType<QEvent::Type>().valueToKey(type), receiverClass,
                         elapsed, double(monotonicNs()) / 1e9);
        if (m_deliveries.empty() || elapsed > m_longest.ms)
            m_longest = {elapsed, cpu, type, QString::fromLatin1(receiverClass)};
        m_deliveries.push_back(elapsed);
        return handled;
    }

    void startRecording()
    {
        m_deliveries.clear();
        m_longest = {};
        m_longestCpuMs = 0;
        m_recording = true;
    }
    void stopRecording() { m_recording = false; }
    const std::vector<double> &deliveries() const { return m_deliveries; }
    const Delivery &longest() const { return m_longest; }
    double longestCpuMs() const { return m_longestCpuMs; }

private:
    bool deliver(QObject *receiver, QEvent *event)
    {
        ++m_depth;
        const bool handled = QApplication::notify(receiver, event);
        --m_depth;
        return handled;
    }

    static qint64 clockNs(clockid_t id)
    {
        timespec now{};
        clock_gettime(id, &now);
        return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    }
    static qint64 monotonicNs() { return clockNs(CLOCK_MONOTONIC); }
    // Wall time minus this is time the GUI thread waited: for a core, a lock or the disk.
    static qint64 threadCpuNs() { return clockNs(CLOCK_THREAD_CPUTIME_ID); }

    // Events this long are listed with their end time, to find them in a profile.
    const double m_traceFromMs = qEnvironmentVariableIntValue("GUI_BENCH_TRACE_MS");
    bool m_recording = false;
    int m_depth = 0;
    std::vector<double> m_deliveries;
    Delivery m_longest;
    double m_longestCpuMs = 0;
};

TimingApplication *timing()
{
    return static_cast<TimingApplication *>(QCoreApplication::instance());
}

using EventLoopWaits::spin;
using EventLoopWaits::waitFor;

QString eventName(int type)
{
    const QMetaEnum names = QMetaEnum::fromType<QEvent::Type>();
    const char *name = names.valueToKey(type);
    return name ? QString::fromLatin1(name) : QString::number(type);
}

void report(const char *scenario, const QString &detail)
{
    std::vector<double> times = timing()->deliveries();
    timing()->stopRecording();
    std::sort(times.begin(), times.end());
    const double longest = times.empty() ? 0 : times.back();
    const double p99 =
        times.empty() ? 0 : times.at(std::min(times.size() - 1, (times.size() * 99) / 100));
    const Delivery &worst = timing()->longest();
    std::printf("scenario %s events %zu max_ms %.2f p99_ms %.2f cpu_max_ms %.2f worst %s/%s "
                "%s\n",
                scenario, times.size(), longest, p99, timing()->longestCpuMs(),
                qPrintable(eventName(worst.type)), qPrintable(worst.receiver), qPrintable(detail));
    std::fflush(stdout);
}

void key(QWidget *target, int code, Qt::KeyboardModifiers modifiers, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, code, modifiers, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, code, modifiers, text);
    QApplication::sendEvent(target, &release);
}

// Types `text` as a user does, each key followed by the pause that lets its search land.
void typeSearch(BrowserModel &model, QLineEdit *field, const QString &text)
{
    for (QChar c : text) {
        int results = 0;
        auto counter = QObject::connect(&model, &BrowserModel::searchResultsChanged, field,
                                        [&results] { ++results; });
        key(field, 0, Qt::NoModifier, QString(c));
        waitFor([&] { return model.searchText() == field->text() && results > 0; }, 10000);
        QObject::disconnect(counter);
        spin(150);
    }
}

void clearField(QLineEdit *field)
{
    key(field, Qt::Key_A, Qt::ControlModifier, QString());
    key(field, Qt::Key_Backspace, Qt::NoModifier, QString());
}

bool makeFolder(const QString &path, int files)
{
    if (!QDir().mkpath(path))
        return false;
    for (int i = 0; i < files; ++i) {
        QFile file(path + QStringLiteral("/Bench Hit %1.wav").arg(i + 1, 5, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    MemoryPolicy::apply();
    TimingApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr,
                     "usage: gui_thread_bench ROOT INDEX_FILE [SCROLL_ROWS] [FOLDER_FILES]\n");
        return 2;
    }
    const QString root = QDir(args.at(0)).absolutePath();
    const int scrollRows = args.size() > 2 ? args.at(2).toInt() : 100000;
    const int folderFiles = args.size() > 3 ? args.at(3).toInt() : 5000;

    QTemporaryDir dir;
    const QString indexPath = dir.filePath(QStringLiteral("index.plist"));
    if (!QFile::copy(args.at(1), indexPath)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(args.at(1)));
        return 1;
    }
    const QString folder = root + QStringLiteral("/Wavelark Bench Folder");
    struct RemoveFolder
    {
        QString path;
        ~RemoveFolder() { QDir(path).removeRecursively(); }
    } removeFolder{folder};
    if (!makeFolder(folder, folderFiles)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(folder));
        return 1;
    }
    {
        Preferences preset(dir.filePath(QStringLiteral("prefs.plist")));
        preset.setObject(QStringList{root}, QStringLiteral("rootFolderPaths"));
        preset.flush();
    }

    WavelarkApp::Services services;
    services.preferencesPath = dir.filePath(QStringLiteral("prefs.plist"));
    services.indexFilePath = indexPath;
    services.peaksCacheDirectory = dir.filePath(QStringLiteral("peaks"));
    // Live updates stay off: the watcher's set-up is not what these scenarios measure.
    services.liveUpdates = false;
    services.audioOutput = std::make_unique<SilentOutput>();
    WavelarkApp wavelark(std::move(services));
    wavelark.show();
    BrowserModel &model = wavelark.model();
    QElapsedTimer clock;
    clock.start();
    waitFor([&] { return !model.index()->isEmpty(); }, 600000);
    const qint64 loaded = clock.elapsed();
    waitFor([&] { return !model.isIndexing(); }, 600000);
    model.waitForIndexWrites();
    spin(500);
    std::printf("index %zu entries, stored list applied after %lld ms, rebuilt after %lld ms\n",
                model.index()->size(), static_cast<long long>(loaded),
                static_cast<long long>(clock.elapsed()));

    ContentView *content = wavelark.content();
    QLineEdit *field = content->searchBar()->field();
    SidebarView *sidebar = content->sidebar();
    ResultsTableView *table = sidebar->resultsTable();
    model.setGlobalSearch(true);
    field->setFocus();
    spin(100);

    timing()->startRecording();
    typeSearch(model, field, QStringLiteral("kick"));
    const qsizetype kickHits = model.searchResults().size();
    clearField(field);
    typeSearch(model, field, QStringLiteral("a"));
    report("typing", QStringLiteral("(\"kick\" %1 hits, then \"a\" %2 hits)")
                         .arg(kickHits)
                         .arg(model.searchResults().size()));

    // Page by page with the wheel (Ctrl turns a notch into a page), each page painted.
    spin(200);
    const int target = std::min<int>(scrollRows, table->resultsModel().rowCount() - 1);
    QWidget *viewport = table->viewport();
    const QPoint inside(viewport->width() / 2, viewport->height() / 2);
    timing()->startRecording();
    int pages = 0;
    while (table->rowAt(0) < target && pages < 1000000) {
        const int before = table->verticalScrollBar()->value();
        QWheelEvent wheel(inside, viewport->mapToGlobal(inside), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
        QCoreApplication::processEvents();
        ++pages;
        if (table->verticalScrollBar()->value() == before)
            break;
    }
    report("scrolling", QStringLiteral("(%1 pages to row %2 of %3)")
                            .arg(pages)
                            .arg(table->rowAt(0))
                            .arg(table->resultsModel().rowCount()));

    // Also what the dropped list costs: deferred deletes run within the second after.
    const int shown = table->resultsModel().rowCount();
    timing()->startRecording();
    clearField(field);
    waitFor([&] { return model.searchText().isEmpty() && model.searchResults().isEmpty(); }, 10000);
    spin(1000);
    report("clearing", QStringLiteral("(%1 results dropped)").arg(shown));

    // A user who clears the field while the search still runs: its result is never shown.
    timing()->startRecording();
    key(field, 0, Qt::NoModifier, QStringLiteral("a"));
    spin(250);
    key(field, Qt::Key_Backspace, Qt::NoModifier, QString());
    waitFor([&] { return model.searchText().isEmpty(); }, 10000);
    spin(2000);
    report("abandoned", QStringLiteral("(\"a\" cleared 250 ms after the key)"));

    model.setGlobalSearch(false);
    waitFor([&] { return sidebar->content() == SidebarView::Content::Tree; }, 10000);
    spin(200);
    TreeListView *tree = sidebar->treeList();
    TreeRowModel *rows = sidebar->rowModel();
    const auto clickUrl = [&](const QString &path) {
        const int row = rows->rowOf(QUrl::fromLocalFile(path));
        if (row < 0)
            return false;
        tree->scrollTo(rows->index(row));
        QCoreApplication::processEvents();
        const QRect rect = tree->visualRect(rows->index(row));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
        spin(300);
        return true;
    };
    const int before = rows->rowCount();
    timing()->startRecording();
    if (!model.expanded().contains(QUrl::fromLocalFile(root)) && !clickUrl(root))
        std::fprintf(stderr, "root row not found\n");
    report("expand_root", QStringLiteral("(%1 rows to %2)").arg(before).arg(rows->rowCount()));
    const int beforeFolder = rows->rowCount();
    timing()->startRecording();
    if (!clickUrl(folder))
        std::fprintf(stderr, "folder row not found\n");
    report("expand_folder", QStringLiteral("(%1 files: %2 rows to %3)")
                                .arg(folderFiles)
                                .arg(beforeFolder)
                                .arg(rows->rowCount()));
    return 0;
}
