// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiFixtures.h"

#include "WaveformBars.h"
#include "WaveformView.h"

#include <cmath>

namespace {

const QString format = QStringLiteral("WAV \u00B7 44.1 kHz \u00B7 16-bit \u00B7 mono");
const QString dot = QStringLiteral("  \u00B7  ");

} // namespace

class TestWaveformView : public QObject
{
    Q_OBJECT

    std::unique_ptr<SearchFixture> m_f;
    std::unique_ptr<WaveformView> m_view;

    QUrl playTone(const QString &name, double seconds)
    {
        const QUrl url = m_f->url(name);
        if (!writeWav(url.toLocalFile(), seconds) || !m_f->player->play(url))
            return {};
        if (!QTest::qWaitFor([&] { return !m_f->player->isGeneratingWaveform(); }))
            return {};
        m_view->show();
        return QTest::qWaitForWindowExposed(m_view.get()) ? url : QUrl();
    }

private Q_SLOTS:
    void init()
    {
        m_f = std::make_unique<SearchFixture>();
        m_view = std::make_unique<WaveformView>(*m_f->player);
        m_view->resize(600, WaveformView::defaultHeight);
    }
    void cleanup()
    {
        m_view.reset();
        m_f.reset();
    }

    void barReduction_data()
    {
        QTest::addColumn<int>("peaks");
        QTest::addColumn<qreal>("width");
        QTest::addColumn<int>("bars");
        QTest::addColumn<qreal>("barWidth");
        QTest::newRow("600 points") << 260 << 600.0 << 85 << 0.55 * 600 / 85;
        QTest::newRow("never fewer than 16") << 260 << 70.0 << 16 << 0.55 * 70 / 16;
        QTest::newRow("every peak fits exactly") << 260 << 1820.0 << 260 << 0.55 * 7;
        QTest::newRow("one point short") << 260 << 1819.0 << 259 << 0.55 * 1819 / 259;
        QTest::newRow("wide: width capped at 4") << 260 << 2400.0 << 260 << 4.0;
        QTest::newRow("fewer than 16 peaks are kept") << 10 << 50.0 << 10 << 0.55 * 50 / 10;
        QTest::newRow("17 into 16") << 17 << 10.0 << 16 << 0.55 * 10 / 16;
        QTest::newRow("zero width") << 260 << 0.0 << 16 << 0.0;
        QTest::newRow("no peaks") << 0 << 600.0 << 0 << 0.0;
    }

    void barReduction()
    {
        QFETCH(int, peaks);
        QFETCH(qreal, width);
        QFETCH(int, bars);
        QFETCH(qreal, barWidth);
        QCOMPARE(WaveformBars::barCount(peaks, width), bars);
        QVERIFY(std::abs(WaveformBars::barWidth(bars, width) - barWidth) < 1e-9);
        // A lone spike must show in exactly one bar, wherever it is: no source peak is skipped or
        // counted twice.
        for (int spike = 0; spike < peaks; ++spike) {
            QList<float> source(peaks, 0.0f);
            source[spike] = 1.0f;
            const QList<float> reduced = WaveformBars::reduce(source, width);
            QCOMPARE(reduced.size(), bars);
            QCOMPARE(reduced.count(1.0f), 1);
        }
    }

    void durationFormat_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("75.4 s") << 75.4 << "1:15";
        QTest::newRow("59.6 s rounds up") << 59.6 << "1:00";
        QTest::newRow("half a second") << 0.5 << "0:01";
        QTest::newRow("under half a second") << 0.49 << "";
        QTest::newRow("over an hour: minutes unpadded") << 3725.0 << "62:05";
        QTest::newRow("not a number") << std::nan("") << "";
    }

    void durationFormat()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(WaveformView::formatDuration(seconds), text);
    }

    void textStates()
    {
        QCOMPARE(m_view->titleText(), QString());
        QCOMPARE(m_view->placeholderText(), QStringLiteral("No sample playing"));
        QVERIFY(writeWav(m_f->path("Kick 01.wav"), 2.0));
        QVERIFY(m_f->player->play(m_f->url("Kick 01.wav")));
        QCOMPARE(m_view->placeholderText(), QStringLiteral("Loading waveform\u2026"));
        // The length and the format line follow the file's open.
        const QString title = "Kick 01.wav" + dot + "0:02" + dot + format;
        QTRY_COMPARE(m_view->titleText(), title);
        QTRY_COMPARE(m_view->placeholderText(), QString());
        m_f->player->stop();
        QCOMPARE(m_view->placeholderText(), QString());
        QCOMPARE(m_view->titleText(), title);
        QVERIFY(!playTone(QStringLiteral("blip.wav"), 0.3).isEmpty());
        QCOMPARE(m_view->titleText(), "blip.wav" + dot + format);

        // Ogg Vorbis previews like any other sample.
        const QString ogg = m_f->path(QStringLiteral("loop.ogg"));
        QVERIFY(TestSupport::makeAudio(ogg, QStringLiteral("sine=sample_rate=44100:duration=1"),
                                       {QStringLiteral("-c:a"), QStringLiteral("libvorbis")}));
        QVERIFY(m_f->player->play(QUrl::fromLocalFile(ogg)));
        QTRY_COMPARE(m_view->titleText(),
                     "loop.ogg" + dot + "0:01" + dot + u"VORBIS \u00B7 44.1 kHz \u00B7 mono"_qs);
        QTRY_COMPARE(m_view->placeholderText(), QString());

        // A name without an extension is refused before it is opened.
        const QString bare = m_f->path(QStringLiteral("loop"));
        QVERIFY(TestSupport::writeFile(bare, "OggS"));
        QVERIFY(!m_f->player->play(QUrl::fromLocalFile(bare)));
        QCOMPARE(m_f->player->lastError(), QStringLiteral("Can't preview . files"));
        QCOMPARE(m_view->titleText(), QString());
        QCOMPARE(m_view->placeholderText(), QStringLiteral("No sample playing"));
    }

    void clickAndDragSeek()
    {
        const QUrl url = playTone(QStringLiteral("pad.wav"), 4.0);
        QVERIFY(!url.isEmpty());
        AudioPreviewPlayer &player = *m_f->player;
        const QRectF area = m_view->waveformArea();
        const int y = int(area.center().y());
        // The title line is not part of the waveform: a click there leaves the playhead alone.
        QVERIFY(area.top() > 0 && area.left() == 0 && area.width() == 600);
        QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, QPoint(300, 2));
        QCOMPARE(player.progress(), 0.0);
        // A click on a stopped preview plays it from the point clicked, to the last pixel.
        player.stop();
        QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, QPoint(599, y));
        QCOMPARE(player.playingURL(), url);
        QCOMPARE(player.progress(), 599.0 / 600);
        // Past either end the drag holds at the ends; after the release, moving no longer seeks.
        QCOMPARE(dragValues(m_view.get(), y, {150, 450, 900, -40, 123},
                            [&] { return player.progress(); }),
                 QList<int>({250, 750, 1000, 0, 0}));

        // The hover line stays with the pointer until it leaves.
        QTRY_COMPARE(m_view->hoverX().value_or(-1), 123.0);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(m_view.get(), &leave);
        QVERIFY(!m_view->hoverX());
    }
};

QTEST_MAIN(TestWaveformView)
#include "tst_waveformview.moc"
