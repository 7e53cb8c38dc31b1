// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "TestSupport.h"

#include "audio/AudioOutput.h"
#include "audio/AudioPreviewPlayer.h"
#include "audio/PreviewFiles.h"
#include "model/BrowserModel.h"
#include "platform/Preferences.h"
#include "tags/TagStore.h"
#include "ui/DialogPresenter.h"

#include <QDataStream>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <mutex>

// A device that opens at once and never asks for sound: playback starts and stays at the
// position it was given, so the tests decide where the playhead is.
class SilentAudioOutput final : public AudioOutput
{
public:
    bool open() override { return true; }
    AudioDeviceFormat format() const override { return {48000, 2}; }
    void setRenderer(AudioRenderer *) override {}
};

// Answers alerts from a script and keeps what they said.
// The real file system, noting every file the preview opens.
class RecordingPreviewFiles final : public PreviewFiles
{
public:
    std::unique_ptr<AudioDecoder> open(const QString &path,
                                       AudioDecoder::Interrupt interrupt) const override
    {
        {
            const std::lock_guard lock(m_mutex);
            m_opened.insert(path);
        }
        return PreviewFiles::open(path, std::move(interrupt));
    }
    QSet<QString> opened() const
    {
        const std::lock_guard lock(m_mutex);
        return m_opened;
    }

private:
    mutable std::mutex m_mutex;
    mutable QSet<QString> m_opened;
};

class RecordingPresenter final : public DialogPresenter
{
public:
    int run(const Alert &alert, QWidget *) override
    {
        alerts.append(alert);
        return answers.isEmpty() ? 0 : answers.takeFirst();
    }
    QStringList titles() const
    {
        QStringList result;
        for (const Alert &alert : alerts)
            result.append(alert.messageText);
        return result;
    }
    QList<Alert> alerts;
    QList<int> answers;
};

// Silent 16-bit mono WAV at 44.1 kHz: real enough to preview, made without a subprocess.
inline bool writeWav(const QString &path, double seconds = 0.1)
{
    const quint32 dataBytes = quint32(seconds * 44100) * 2;
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(44100) << quint32(88200) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    return TestSupport::writeFile(path, bytes + QByteArray(qsizetype(dataBytes), '\0'));
}

// First and last row of every dataChanged the spy saw; the spy starts over.
inline QList<int> changedRows(QSignalSpy &spy)
{
    QList<int> rows;
    for (const QList<QVariant> &args : std::as_const(spy))
        rows << args.at(0).toModelIndex().row() << args.at(1).toModelIndex().row();
    spy.clear();
    return rows;
}

// Presses at the first x, moves through the rest, releases before the last move; the value in
// thousandths after each step.
template <typename Value>
QList<int> dragValues(QWidget *widget, int y, const QList<int> &xs, Value value)
{
    QList<int> values;
    QTest::mousePress(widget, Qt::LeftButton, {}, QPoint(xs.first(), y));
    for (qsizetype i = 0; i < xs.size(); ++i) {
        if (i == xs.size() - 1)
            QTest::mouseRelease(widget, Qt::LeftButton, {}, QPoint(xs.at(i - 1), y));
        if (i > 0)
            QTest::mouseMove(widget, QPoint(xs.at(i), y));
        values.append(qRound(value() * 1000));
    }
    return values;
}

inline QStringList actionTexts(const QMenu &menu)
{
    QStringList texts;
    for (QAction *action : menu.actions())
        texts.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

inline QAction *actionNamed(const QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

struct SearchFixture
{
    QTemporaryDir dir;
    std::unique_ptr<Preferences> prefs =
        std::make_unique<Preferences>(dir.filePath(QStringLiteral("prefs.plist")));
    std::unique_ptr<AudioPreviewPlayer> player =
        std::make_unique<AudioPreviewPlayer>(*prefs, std::make_unique<SilentAudioOutput>());
    std::unique_ptr<TagStore> tags = std::make_unique<TagStore>(*prefs);
    std::unique_ptr<BrowserModel> model = std::make_unique<BrowserModel>(
        *prefs, dir.filePath(QStringLiteral("index.plist")), false, tags.get());

    ~SearchFixture() { model->waitForIndexWrites(); }
    QString path(const QString &relative) const { return dir.filePath(relative); }
    QUrl url(const QString &relative) const { return QUrl::fromLocalFile(path(relative)); }

    bool addIndexedRoot(const QString &root, const QStringList &files)
    {
        for (const QString &file : files) {
            if (!writeWav(path(root + QLatin1Char('/') + file)))
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

    bool search(const QString &text, qsizetype expected)
    {
        model->setSearchText(text);
        return QTest::qWaitFor([&] { return model->searchResults().size() == expected; }, 10000);
    }
};
