#pragma once

#include "BrowserModel.h"
#include "FolderChooser.h"
#include "Preferences.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <memory>

// A folder chooser that answers with what the test set up and remembers what it was asked.
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

// A temporary home for one model: preferences, index file and a samples folder.
struct ModelFixture
{
    QTemporaryDir dir;
    std::unique_ptr<Preferences> prefs;
    TestFolderChooser chooser;

    ModelFixture()
    {
        prefs = std::make_unique<Preferences>(dir.filePath(QStringLiteral("prefs.plist")));
    }

    QString path(const QString &relative) const { return dir.filePath(relative); }
    QUrl url(const QString &relative) const { return QUrl::fromLocalFile(path(relative)); }
    void touch(const QString &relative) const { TestSupport::writeFile(path(relative)); }
    void mkdir(const QString &relative) const { TestSupport::makeDirs(path(relative)); }

    std::unique_ptr<BrowserModel> makeModel(TagStore *tags = nullptr, bool live = false)
    {
        auto model =
            std::make_unique<BrowserModel>(*prefs, path(QStringLiteral("index.plist")), live, tags);
        model->setFolderChooser(&chooser);
        return model;
    }

    // A fresh preferences object on the same file, as after a restart.
    void restartPreferences()
    {
        prefs->flush();
        prefs.reset();
        prefs = std::make_unique<Preferences>(dir.filePath(QStringLiteral("prefs.plist")));
    }
};

inline QStringList rowNames(const QList<VisibleRow> &rows)
{
    QStringList names;
    for (const VisibleRow &row : rows)
        names.append(QString(row.depth * 2, QLatin1Char(' ')) + row.node->name());
    return names;
}
