// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Sidebar tree: rebuilding the rows of a large expanded tree, scrolling it frame by frame and
// moving the hover, against a plain QListView over the same names as the reference.
// Usage: sidebar_bench [folders] [filesPerFolder]; runs offscreen.

#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "FileRowView.h"
#include "Preferences.h"
#include "SidebarView.h"
#include "TagStore.h"
#include "Theme.h"
#include "TreeListView.h"
#include "TreeRowModel.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QListView>
#include <QPaintEvent>
#include <QScrollBar>
#include <QStringListModel>
#include <QStyleFactory>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values.at(values.size() / 2);
}

// Milliseconds per frame while the list scrolls by one row per frame, top to bottom: the scroll
// and a paint of the whole viewport (an upper bound: a real scroll repaints only the new strip).
std::vector<double> scrollFrames(QAbstractItemView &view, int frames)
{
    std::vector<double> times;
    QImage frame(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    QScrollBar *bar = view.verticalScrollBar();
    bar->setValue(0);
    for (int i = 0; i < frames; ++i) {
        QElapsedTimer timer;
        timer.start();
        bar->setValue(bar->value() + FileRowView::rowHeight);
        view.viewport()->render(&frame);
        times.push_back(timer.nsecsElapsed() / 1e6);
    }
    return times;
}

// Adds up the height of every region the viewport is asked to paint.
class PaintedRows final : public QObject
{
public:
    int pixels = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            for (const QRect &rect : static_cast<QPaintEvent *>(event)->region())
                pixels += rect.height();
        }
        return false;
    }
};

// The platform's own row painting at the tree's row height.
class PlainRows final : public QStyledItemDelegate
{
public:
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), FileRowView::rowHeight);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(Theme::darkPalette());
    const int folders = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 1000;
    const int files = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 20;

    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("Library"));
    QSet<QUrl> expanded{QUrl::fromLocalFile(root)};
    for (int f = 0; f < folders; ++f) {
        const QString folder = root + QStringLiteral("/Pack %1/Folder %2").arg(f / 20).arg(f);
        QDir().mkpath(folder);
        expanded.insert(QUrl::fromLocalFile(QFileInfo(folder).path()));
        expanded.insert(QUrl::fromLocalFile(folder));
        for (int i = 0; i < files; ++i)
            QFile(folder + QStringLiteral("/Sample %1 Kick Loop.wav").arg(i))
                .open(QIODevice::WriteOnly);
    }

    Preferences prefs(dir.filePath(QStringLiteral("prefs.plist")));
    AudioPreviewPlayer player(prefs);
    TagStore tags(prefs);
    BrowserModel model(prefs, dir.filePath(QStringLiteral("index.plist")), false, &tags);
    model.addDroppedFolders({QUrl::fromLocalFile(root)});

    // The model alone toggling one folder of the expanded tree and flattening the rows again,
    // before any view observes it.
    model.setExpanded(expanded);
    const FileNodePtr middle = model.node(QUrl::fromLocalFile(
        root + QStringLiteral("/Pack %1/Folder %2").arg(folders / 40).arg(folders / 2)));
    std::vector<double> modelToggle;
    for (int round = 0; round < 10; ++round) {
        QElapsedTimer timer;
        timer.start();
        model.toggle(middle);
        const qsizetype shown = model.visibleRows().size();
        modelToggle.push_back(timer.nsecsElapsed() / 1e6);
        Q_UNUSED(shown);
    }
    model.collapseAll();

    // Connected before and after the sidebar, so the two bracket its handling of a tag change.
    QElapsedTimer observers;
    double tagObservers = 0;
    QObject::connect(&tags, &TagStore::tagsChanged, &tags, [&observers] { observers.start(); });
    SidebarView sidebar(model, player, tags);
    QObject::connect(&tags, &TagStore::tagsChanged, &tags,
                     [&] { tagObservers = observers.nsecsElapsed() / 1e6; });
    sidebar.resize(440, 600);
    sidebar.show();

    // Rows: the model's own flattening is the reference for the list model's rebuild.
    model.setExpanded(expanded); // lists every folder once
    model.collapseAll();
    std::vector<double> flatten;
    std::vector<double> rebuild;
    for (int round = 0; round < 5; ++round) {
        QElapsedTimer timer;
        timer.start();
        const qsizetype rows = model.visibleRows().size();
        flatten.push_back(timer.nsecsElapsed() / 1e6);
        Q_UNUSED(rows);
        model.collapseAll();
        timer.restart();
        model.setExpanded(expanded);
        rebuild.push_back(timer.nsecsElapsed() / 1e6);
    }
    const int rowCount = sidebar.rowModel()->rowCount();

    // The same with the sidebar showing the tree.
    std::vector<double> toggle;
    for (int round = 0; round < 10; ++round) {
        QElapsedTimer timer;
        timer.start();
        model.toggle(middle);
        toggle.push_back(timer.nsecsElapsed() / 1e6);
    }

    // A tenth of the files carry two tags, so rows draw dots too.
    QHash<QUrl, FinderTagSet> tagged;
    for (int i = 0; i < rowCount; i += 10) {
        const TreeRowModel::Row &row = sidebar.rowModel()->rowAt(i);
        if (!row.isDirectory)
            tagged.insert(row.row.node->url(), {FinderTag::Red, FinderTag::Blue});
    }
    tags.mergeImported(tagged);
    QElapsedTimer tagTimer;
    tagTimer.start();
    tags.setTags({FinderTag::Green}, sidebar.rowModel()->rowAt(rowCount / 2).row.node->url());
    const double oneTag = tagTimer.nsecsElapsed() / 1e6;

    QStringList names;
    for (int i = 0; i < rowCount; ++i)
        names.append(sidebar.rowModel()->rowAt(i).row.node->name());
    QStringListModel plainModel(names);
    QListView plain;
    PlainRows plainRows;
    plain.setItemDelegate(&plainRows);
    plain.setUniformItemSizes(true);
    plain.setModel(&plainModel);
    plain.resize(440, 600);
    plain.show();

    constexpr int frames = 600;
    scrollFrames(*sidebar.treeList(), 50);
    scrollFrames(plain, 50);
    const double treeFrame = median(scrollFrames(*sidebar.treeList(), frames));
    const double plainFrame = median(scrollFrames(plain, frames));

    // Hover: moving from one row to the next repaints those two rows, not the viewport.
    TreeRowModel &rowModel = *sidebar.rowModel();
    QListView &list = *sidebar.treeList();
    list.verticalScrollBar()->setValue(0);
    if (!QTest::qWaitForWindowExposed(&sidebar))
        return 1;
    QApplication::processEvents();
    PaintedRows painted;
    list.viewport()->installEventFilter(&painted);
    std::vector<double> hover;
    constexpr int moves = 200;
    for (int i = 0; i < moves; ++i) {
        QElapsedTimer timer;
        timer.start();
        rowModel.setHoveredURL(rowModel.rowAt(i % 20).row.node->url());
        hover.push_back(timer.nsecsElapsed() / 1e6);
        QApplication::processEvents();
    }
    const double rowsPerMove = double(painted.pixels) / FileRowView::rowHeight / moves;
    const double rowsShown = double(list.viewport()->height()) / FileRowView::rowHeight;

    std::printf("tree: %d folders x %d files, %d rows shown\n", folders, files, rowCount);
    std::printf("expand all: %.1f ms (model's own flattening %.1f ms, ratio %.2f)\n",
                median(rebuild), median(flatten), median(rebuild) / median(flatten));
    std::printf(
        "toggle one folder: %.1f ms (the model toggling and flattening %.1f ms, ratio %.2f)\n",
        median(toggle), median(modelToggle), median(toggle) / median(modelToggle));
    std::printf("scroll frame: %.3f ms (plain QListView %.3f ms, ratio %.2f)\n", treeFrame,
                plainFrame, treeFrame / plainFrame);
    std::printf("hover move: %.3f ms in the row model, %.1f rows repainted of %.1f shown\n",
                median(hover), rowsPerMove, rowsShown);
    std::printf("one tag change: %.2f ms, of which the sidebar's update %.2f ms (ratio %.2f)\n",
                oneTag, tagObservers, tagObservers / oneTag);
    model.waitForIndexWrites();
    return 0;
}
