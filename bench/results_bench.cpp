// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// GUI-thread cost of the search path: keystrokes in the search field, the start of a search, and
// applying a large result list to the results table (reset and first paint), then scrolling it.
// Reference in the same run: a QListView over a QStringListModel of the same names, the cheapest
// list Qt offers. Not run by ctest.
//
// usage: results_bench ROOT [TERM...]   (ROOT is indexed first; each TERM is searched once, "-"
// clears the search)
#include "AudioOutput.h"
#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "Preferences.h"
#include "ResultsModel.h"
#include "ResultsTableView.h"
#include "SearchBar.h"
#include "TagStore.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace {

class NullOutput final : public AudioOutput
{
public:
    bool open() override { return true; }
    AudioDeviceFormat format() const override { return {48000, 2}; }
    void setRenderer(AudioRenderer *) override {}
};

double ms(qint64 nanoseconds)
{
    return double(nanoseconds) / 1e6;
}

// The longest time the event loop was kept from a 1 ms timer while `running` holds.
class StallMeter final
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    double stopMs()
    {
        m_timer.stop();
        return ms(m_longest);
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

void waitFor(const std::function<bool()> &done, int timeoutMs = 600000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Median of the paint costs of `pages` page-downs through `view`.
double scrollFrameMs(QAbstractItemView &view, int pages)
{
    QList<qint64> frames;
    QScrollBar *bar = view.verticalScrollBar();
    QElapsedTimer clock;
    for (int i = 0; i < pages; ++i) {
        clock.start();
        bar->setValue(bar->value() + bar->pageStep());
        view.viewport()->repaint();
        frames.append(clock.nsecsElapsed());
    }
    std::sort(frames.begin(), frames.end());
    return frames.isEmpty() ? 0 : ms(frames.at(frames.size() / 2));
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: results_bench ROOT [TERM...]\n");
        return 2;
    }
    const QStringList terms = args.size() > 1 ? args.mid(1) : QStringList{QStringLiteral("a")};

    QTemporaryDir dir;
    Preferences prefs(dir.filePath(QStringLiteral("prefs.plist")));
    AudioPreviewPlayer player(prefs, std::make_unique<NullOutput>());
    TagStore tags(prefs);
    BrowserModel model(prefs, dir.filePath(QStringLiteral("index.plist")), false, &tags);
    waitFor([&] { return !model.isIndexing(); });

    QElapsedTimer indexClock;
    indexClock.start();
    model.addRoot(QUrl::fromLocalFile(args.at(0)));
    model.startIndexing();
    waitFor([&] { return !model.isIndexing(); });
    std::printf("indexed %zu files in %.0f ms\n", model.index()->size(),
                ms(indexClock.nsecsElapsed()));

    // Connected before the table exists, so it runs before the table hears of a new list.
    QElapsedTimer clock;
    qint64 applyStart = 0;
    QObject::connect(&model, &BrowserModel::searchResultsChanged, &model,
                     [&] { applyStart = clock.nsecsElapsed(); });

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *bar = new SearchBar(model);
    auto *table = new ResultsTableView(model, player, tags);
    layout->addWidget(bar);
    layout->addWidget(table);
    window.resize(440, 720);
    window.show();
    waitFor([&] { return window.isVisible(); }, 2000);
    bar->field()->setFocus();

    StallMeter stalls;
    // Terms follow one another as a user refines a search: each list replaces the previous one,
    // whose release is part of the apply. "-" clears the search.
    for (const QString &term : terms) {
        if (term == QStringLiteral("-")) {
            model.clearSearch();
            waitFor([&] { return model.searchResults().isEmpty(); });
            QCoreApplication::processEvents();
            continue;
        }
        const qsizetype previousCount = model.searchResults().size();

        // Keystrokes: the field, the pause timer and nothing else run on the GUI thread.
        QList<qint64> keys;
        // The first key event of a field sets up its text layout once; not a keystroke's cost.
        QKeyEvent warmUp(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
        QApplication::sendEvent(bar->field(), &warmUp);
        for (QChar c : term) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            clock.start();
            QApplication::sendEvent(bar->field(), &press);
            keys.append(clock.nsecsElapsed());
        }
        std::sort(keys.begin(), keys.end());
        const qint64 slowestKey = keys.constLast();
        const qint64 medianKey = keys.at(keys.size() / 2);

        // The search starts on the GUI thread once the pause is over; the walk runs off it.
        clock.start();
        model.setSearchText(term);
        const qint64 start = clock.nsecsElapsed();
        bar->field()->setText(term);

        // Applying the list: the model's comparison, the reset and the first paint.
        qint64 resetDone = 0;
        auto last = QObject::connect(&table->resultsModel(), &QAbstractItemModel::modelReset,
                                     &window, [&] { resetDone = clock.nsecsElapsed(); });
        stalls.start();
        clock.start();
        waitFor([&] { return resetDone != 0; }, 60000);
        if (resetDone == 0) {
            std::printf("term \"%s\": no results\n", qPrintable(term));
            QObject::disconnect(last);
            stalls.stopMs();
            continue;
        }
        table->viewport()->repaint();
        const qint64 painted = clock.nsecsElapsed();
        const double longestStall = stalls.stopMs();
        QObject::disconnect(last);
        const qsizetype count = model.searchResults().size();

        const double tableScroll = scrollFrameMs(*table, 200);
        clock.start();
        table->scrollToBottom();
        table->viewport()->repaint();
        const qint64 jump = clock.nsecsElapsed();

        // Reference: the same names in Qt's plainest list.
        QStringList names;
        names.reserve(count);
        for (const FileNodePtr &node : model.searchResults())
            names.append(node->name());
        QStringListModel plainModel;
        QListView plain;
        plain.setUniformItemSizes(true);
        plain.setModel(&plainModel);
        plain.resize(table->size());
        plain.show();
        waitFor([&] { return plain.isVisible(); }, 2000);
        QCoreApplication::processEvents();
        clock.start();
        plainModel.setStringList(names);
        // The list lays its items out from a posted event; that belongs to the cost.
        QCoreApplication::processEvents();
        plain.viewport()->repaint();
        const qint64 plainApply = clock.nsecsElapsed();
        const double plainScroll = scrollFrameMs(plain, 200);

        std::printf("term \"%s\": %lld results, replacing %lld\n", qPrintable(term),
                    static_cast<long long>(count), static_cast<long long>(previousCount));
        std::printf("  keystroke: median %.3f ms, slowest %.3f ms; search start %.3f ms\n",
                    ms(medianKey), ms(slowestKey), ms(start));
        std::printf("  apply: reset %.2f ms + first paint %.2f ms = %.2f ms (reference list "
                    "%.2f ms, ratio %.2f); longest GUI stall while applying %.2f ms\n",
                    ms(resetDone - applyStart), ms(painted - resetDone), ms(painted - applyStart),
                    ms(plainApply), double(painted - applyStart) / double(plainApply),
                    longestStall);
        std::printf("  scroll: %.3f ms a page (reference %.3f ms, ratio %.2f); jump to end "
                    "%.2f ms\n",
                    tableScroll, plainScroll, tableScroll / plainScroll, ms(jump));
    }
    return 0;
}
