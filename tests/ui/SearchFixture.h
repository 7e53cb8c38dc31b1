#pragma once

#include "SilentAudioOutput.h"

#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "Preferences.h"
#include "TagStore.h"
#include "TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The long-lived objects of the window on temporary files, with a samples folder whose files
// are tiny but real WAV files, so that previews start.
struct SearchFixture
{
    QTemporaryDir dir;
    std::unique_ptr<Preferences> prefs;
    std::unique_ptr<AudioPreviewPlayer> player;
    std::unique_ptr<TagStore> tags;
    std::unique_ptr<BrowserModel> model;

    SearchFixture()
    {
        prefs = std::make_unique<Preferences>(dir.filePath(QStringLiteral("prefs.plist")));
        player =
            std::make_unique<AudioPreviewPlayer>(*prefs, std::make_unique<SilentAudioOutput>());
        tags = std::make_unique<TagStore>(*prefs);
        model = std::make_unique<BrowserModel>(*prefs, dir.filePath(QStringLiteral("index.plist")),
                                               false, tags.get());
    }

    QString path(const QString &relative) const { return dir.filePath(relative); }
    QUrl url(const QString &relative) const { return QUrl::fromLocalFile(path(relative)); }

    // 0.1 s of 16-bit mono silence.
    bool writeWav(const QString &relative) const
    {
        const quint32 frames = 4410;
        const quint32 dataBytes = frames * 2;
        QByteArray bytes;
        auto le32 = [&](quint32 v) {
            for (int i = 0; i < 4; ++i)
                bytes.append(char((v >> (8 * i)) & 0xff));
        };
        auto le16 = [&](quint16 v) {
            bytes.append(char(v & 0xff));
            bytes.append(char(v >> 8));
        };
        bytes.append("RIFF");
        le32(36 + dataBytes);
        bytes.append("WAVEfmt ");
        le32(16);
        le16(1);
        le16(1);
        le32(44100);
        le32(44100 * 2);
        le16(2);
        le16(16);
        bytes.append("data");
        le32(dataBytes);
        bytes.append(QByteArray(int(dataBytes), '\0'));
        return TestSupport::writeFile(path(relative), bytes);
    }

    // Makes the files, adds `root` and waits for its index.
    bool addIndexedRoot(const QString &root, const QStringList &files)
    {
        for (const QString &file : files) {
            if (!writeWav(root + QLatin1Char('/') + file))
                return false;
        }
        if (!QTest::qWaitFor([&] { return !model->isIndexing(); }, 10000))
            return false;
        model->addRoot(url(root));
        model->startIndexing();
        return QTest::qWaitFor(
            [&] {
                return !model->isIndexing() && model->index() &&
                       model->index()->size() >= size_t(files.size());
            },
            10000);
    }

    // Sets the search text and waits for `expected` results.
    bool search(const QString &text, qsizetype expected)
    {
        model->setSearchText(text);
        return QTest::qWaitFor([&] { return model->searchResults().size() == expected; }, 10000);
    }
};
