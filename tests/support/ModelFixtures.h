// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "BrowserModel.h"
#include "FolderChooser.h"
#include "Preferences.h"
#include "TagStore.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

// Tests of the model and of what it drives: a temporary home with preferences, an index file and
// a folder chooser that answers what the test set up.
class TestFolderChooser final : public FolderChooser
{
public:
    QList<QUrl> chooseFolders(const Request &request) override
    {
        requests.append(request);
        return answer;
    }
    QList<QUrl> answer;
    QList<Request> requests;
};

struct ModelFixture
{
    QTemporaryDir dir;
    std::unique_ptr<Preferences> prefs = std::make_unique<Preferences>(path("prefs.plist"));
    std::unique_ptr<TagStore> store = std::make_unique<TagStore>(*prefs);
    TestFolderChooser chooser;

    QString path(const QString &relative) const { return dir.filePath(relative); }
    QUrl url(const QString &relative) const { return QUrl::fromLocalFile(path(relative)); }
    QString touch(const QString &relative, const QByteArray &bytes = "x") const
    {
        TestSupport::writeFile(path(relative), bytes);
        return path(relative);
    }
    void mkdir(const QString &relative) const { TestSupport::makeDirs(path(relative)); }
    QSet<QUrl> urls(const QStringList &relative) const
    {
        QSet<QUrl> set;
        for (const QString &item : relative)
            set.insert(url(item));
        return set;
    }

    std::unique_ptr<BrowserModel> makeModel(bool withTags = false, bool live = false,
                                            const QStringList &roots = {})
    {
        auto model = std::make_unique<BrowserModel>(*prefs, path("index.plist"), live,
                                                    withTags ? store.get() : nullptr);
        model->setFolderChooser(&chooser);
        for (const QString &root : roots)
            model->addRoot(url(root));
        return model;
    }

    // Fresh preferences and tag store on the same file, as after a restart.
    void restart()
    {
        prefs->flush();
        store.reset();
        prefs = std::make_unique<Preferences>(path("prefs.plist"));
        store = std::make_unique<TagStore>(*prefs);
    }
};

inline QStringList nodeNames(const QList<FileNodePtr> &nodes)
{
    QStringList names;
    for (const FileNodePtr &node : nodes)
        names.append(node->name());
    return names;
}

// Tree rows as names indented by depth, readable in a failed comparison.
inline QStringList rowNames(const QList<VisibleRow> &rows)
{
    QStringList names;
    for (const VisibleRow &row : rows)
        names.append(QString(row.depth * 2, QLatin1Char(' ')) + row.node->name());
    return names;
}

// The model reads the disk off the GUI thread: these wait, as a user does, for what it asked.
inline bool settle(BrowserModel &model, int timeoutMs = 10000)
{
    return QTest::qWaitFor([&] { return model.isSettled(); }, timeoutMs);
}

inline bool isLoadingRow(const VisibleRow &row)
{
    return row.node->isNote() && row.node->name() == QStringLiteral("Loading…");
}

// The rows once every open folder's contents have arrived, level by level.
inline QList<VisibleRow> settledRows(BrowserModel &model, bool tagScoped = false)
{
    for (int round = 0; round < 64; ++round) {
        const QList<VisibleRow> rows = tagScoped ? model.tagScopedRows() : model.visibleRows();
        if (model.isSettled() && std::none_of(rows.begin(), rows.end(), isLoadingRow))
            return rows;
        settle(model);
    }
    return tagScoped ? model.tagScopedRows() : model.visibleRows();
}

// Adds folders as a drop does and waits for the answer; true when a root was added.
inline bool addFolders(BrowserModel &model, const QList<QUrl> &urls)
{
    const qsizetype before = model.roots().size();
    model.addDroppedFolders(urls);
    settle(model);
    return model.roots().size() > before;
}
