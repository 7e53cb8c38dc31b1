// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ProbeCommands.h"

#include "BrowserModel.h"
#include "FinderTagSync.h"
#include "Preferences.h"
#include "TagStore.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

// The preferences file the menu commands would use, with the tag store and the model over it.
// The model keeps its index in a temporary folder, so probing never touches the user's index.
struct Session
{
    explicit Session(const QString &prefsFile)
        : defaults(prefsFile), tags(defaults),
          model(std::make_unique<BrowserModel>(defaults, indexDir.filePath(QStringLiteral("index")),
                                               false, &tags))
    {}
    ~Session()
    {
        model->waitForIndexWrites();
        model.reset();
    }
    Q_DISABLE_COPY_MOVE(Session)

    // Writes the store and the learnt names back now, so a failure is reported.
    bool save()
    {
        if (defaults.flush())
            return true;
        QTextStream(stderr) << "could not write " << defaults.filePath() << '\n';
        return false;
    }

    QTemporaryDir indexDir;
    Preferences defaults;
    TagStore tags;
    std::unique_ptr<BrowserModel> model;
};

bool parse(const QStringList &args, QString &prefs, QString *language)
{
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--prefs"))
            prefs = args[i + 1];
        else if (language && args[i] == QLatin1String("--language"))
            *language = args[i + 1];
        else
            return false;
    }
    return args.size() % 2 == 0 && !prefs.isEmpty();
}

} // namespace

namespace ProbeCommands {

int tagsImport(const QStringList &args)
{
    QString prefs;
    if (!parse(args, prefs, nullptr)) {
        QTextStream(stderr) << "usage: wavelark-probe tags-import --prefs FILE\n";
        return 2;
    }
    Session session(prefs);
    qint64 changed = -1;
    session.model->importFinderTags([&changed](qint64 count) {
        changed = count;
        QCoreApplication::quit();
    });
    if (changed < 0)
        QCoreApplication::exec();
    QTextStream(stdout) << "changed\t" << changed << '\n';
    return session.save() ? 0 : 1;
}

int tagsExport(const QStringList &args)
{
    QString prefs;
    QString language;
    if (!parse(args, prefs, &language)) {
        QTextStream(stderr) << "usage: wavelark-probe tags-export --prefs FILE [--language CODE]\n";
        return 2;
    }
    const QStringList languages =
        language.isEmpty() ? QLocale::system().uiLanguages() : QStringList{language};
    Session session(prefs);
    std::optional<BrowserModel::ExportSummary> summary;
    session.model->exportFinderTags(FinderTagSync::defaultNamesAllowed(languages),
                                    [&summary](BrowserModel::ExportSummary result) {
                                        summary = result;
                                        QCoreApplication::quit();
                                    });
    if (!summary)
        QCoreApplication::exec();
    QStringList skipped;
    for (FinderTag tag : FinderTags::sorted(summary->skippedColors))
        skipped.append(FinderTags::displayName(tag));
    QTextStream(stdout) << "written\t" << summary->filesWritten << "\nfailed\t"
                        << summary->filesFailed << "\nskipped\t" << skipped.join(QLatin1Char(','))
                        << '\n';
    return session.save() ? 0 : 1;
}

} // namespace ProbeCommands
