#include "SilentAudioOutput.h"
#include "TestSupport.h"

#include "WaveformBars.h"
#include "WaveformView.h"
#include "audio/AudioPreviewPlayer.h"
#include "platform/Preferences.h"

#include <QFile>
#include <QPaintEvent>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <cmath>
#include <memory>

namespace {

QList<float> ramp(int count)
{
    QList<float> peaks;
    for (int i = 0; i < count; ++i)
        peaks.append(float(i + 1) / float(count));
    return peaks;
}

// Records the rectangles a widget is asked to repaint.
class PaintRecorder final : public QObject
{
public:
    QList<QRect> rects;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            for (const QRect &rect : static_cast<QPaintEvent *>(event)->region())
                rects.append(rect);
        return false;
    }
};

} // namespace

class TestWaveformView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void barReduction_data();
    void barReduction();
    void reductionCoversEveryPeakOnce_data();
    void reductionCoversEveryPeakOnce();
    void barGeometry();
    void durationFormat_data();
    void durationFormat();
    void textStates();
    void shortAndUnavailableFiles();
    void clickSeeks_data();
    void clickSeeks();
    void dragSeeksAndClamps();
    void hoverLine();
    void progressRepaintsOnlyThePlayhead();

private:
    QString makeTone(const QString &name, double seconds);
    void waitForBars();

    QTemporaryDir m_dir;
    std::unique_ptr<Preferences> m_prefs;
    std::unique_ptr<AudioPreviewPlayer> m_player;
    std::unique_ptr<WaveformView> m_view;
};

void TestWaveformView::initTestCase()
{
    QVERIFY(m_dir.isValid());
    if (!TestSupport::haveTool(QStringLiteral("ffmpeg")))
        QSKIP("ffmpeg is needed to make the samples");
}

void TestWaveformView::init()
{
    m_prefs = std::make_unique<Preferences>(m_dir.filePath(QStringLiteral("prefs.plist")));
    m_player =
        std::make_unique<AudioPreviewPlayer>(*m_prefs, std::make_unique<SilentAudioOutput>());
    m_view = std::make_unique<WaveformView>(*m_player);
    m_view->resize(600, WaveformView::defaultHeight);
}

void TestWaveformView::cleanup()
{
    m_view.reset();
    m_player.reset();
    m_prefs.reset();
}

QString TestWaveformView::makeTone(const QString &name, double seconds)
{
    const QString path = m_dir.filePath(name);
    if (!QFileInfo::exists(path)) {
        const QString source =
            QStringLiteral("sine=frequency=330:duration=%1").arg(seconds, 0, 'f', 3);
        if (!TestSupport::makeAudio(path, source))
            return {};
    }
    return path;
}

void TestWaveformView::waitForBars()
{
    QTRY_VERIFY_WITH_TIMEOUT(!m_player->isGeneratingWaveform(), 10000);
    QVERIFY(!m_player->waveform().isEmpty());
}

void TestWaveformView::barReduction_data()
{
    QTest::addColumn<int>("peaks");
    QTest::addColumn<qreal>("width");
    QTest::addColumn<int>("bars");
    QTest::addColumn<qreal>("barWidth");

    QTest::newRow("600 points") << 260 << 600.0 << 85 << 0.55 * 600 / 85;
    QTest::newRow("70 points: never fewer than 16") << 260 << 70.0 << 16 << 0.55 * 70 / 16;
    QTest::newRow("narrower than 16 bars need") << 260 << 20.0 << 16 << 0.55 * 20 / 16;
    QTest::newRow("every peak fits exactly") << 260 << 1820.0 << 260 << 0.55 * 7;
    QTest::newRow("one point short") << 260 << 1819.0 << 259 << 0.55 * 1819 / 259;
    QTest::newRow("wide: width capped at 4") << 260 << 2400.0 << 260 << 4.0;
    QTest::newRow("fewer than 16 peaks are kept") << 10 << 50.0 << 10 << 0.55 * 50 / 10;
    QTest::newRow("zero width") << 260 << 0.0 << 16 << 0.0;
    QTest::newRow("no peaks") << 0 << 600.0 << 0 << 0.0;
}

void TestWaveformView::barReduction()
{
    QFETCH(int, peaks);
    QFETCH(qreal, width);
    QFETCH(int, bars);
    QFETCH(qreal, barWidth);

    QCOMPARE(WaveformBars::barCount(peaks, width), bars);
    const QList<float> reduced = WaveformBars::reduce(ramp(peaks), width);
    QCOMPARE(reduced.size(), bars);
    QVERIFY(std::abs(WaveformBars::barWidth(bars, width) - barWidth) < 1e-9);
    // Each bar holds the largest of its run, so a rising ramp ends on its last peak.
    if (bars > 0)
        QCOMPARE(reduced.last(), 1.0f);
    for (qsizetype i = 1; i < reduced.size(); ++i)
        QVERIFY(reduced[i] > reduced[i - 1]);
}

void TestWaveformView::reductionCoversEveryPeakOnce_data()
{
    QTest::addColumn<int>("peaks");
    QTest::addColumn<qreal>("width");
    QTest::newRow("260 into 85") << 260 << 600.0;
    QTest::newRow("260 into 16") << 260 << 70.0;
    QTest::newRow("260 into 259") << 260 << 1819.0;
    QTest::newRow("17 into 16") << 17 << 10.0;
    QTest::newRow("1000 into 143") << 1000 << 1001.0;
}

void TestWaveformView::reductionCoversEveryPeakOnce()
{
    QFETCH(int, peaks);
    QFETCH(qreal, width);
    // A lone spike must show in exactly one bar, wherever it is: no source peak is skipped or
    // counted twice.
    for (int spike = 0; spike < peaks; ++spike) {
        QList<float> source(peaks, 0.0f);
        source[spike] = 1.0f;
        const QList<float> reduced = WaveformBars::reduce(source, width);
        QCOMPARE(reduced.count(1.0f), 1);
    }
}

void TestWaveformView::barGeometry()
{
    const QSizeF size(600, 60);
    const qreal step = 600.0 / 85;
    const qreal b = 0.55 * step;
    const auto near = [](qreal a, qreal e) { return std::abs(a - e) < 1e-6; };

    // Silence still shows: each bar is a dot as tall as it is wide, on the middle line, one
    // step apart with half a step to spare at both ends.
    const QList<QRectF> silent = WaveformBars::rects(QList<float>(260, 0.0f), size);
    QCOMPARE(silent.size(), 85);
    for (qsizetype i = 0; i < silent.size(); ++i) {
        QVERIFY(near(silent[i].center().x(), step * (qreal(i) + 0.5)));
        QVERIFY(near(silent[i].width(), b));
        QVERIFY(near(silent[i].height(), b));
        QVERIFY(near(silent[i].center().y(), 30));
    }

    // Full peaks leave five points above and below; half peaks are half as tall.
    const QRectF loud = WaveformBars::rects(QList<float>(260, 1.0f), size).first();
    QVERIFY(near(loud.top(), 5));
    QVERIFY(near(loud.bottom(), 55));
    const QRectF half = WaveformBars::rects(QList<float>(260, 0.5f), size).first();
    QVERIFY(near(half.height(), 25));

    QVERIFY(WaveformBars::rects({}, size).isEmpty());
    QVERIFY(WaveformBars::rects(QList<float>(260, 1.0f), QSizeF(0, 60)).isEmpty());
}

void TestWaveformView::durationFormat_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("75.4 s") << 75.4 << "1:15";
    QTest::newRow("5 minutes") << 300.0 << "5:00";
    QTest::newRow("59.6 s rounds up") << 59.6 << "1:00";
    QTest::newRow("half a second") << 0.5 << "0:01";
    QTest::newRow("under half a second") << 0.49 << "";
    QTest::newRow("nothing loaded") << 0.0 << "";
    QTest::newRow("over an hour: minutes unpadded") << 3725.0 << "62:05";
    QTest::newRow("not a number") << std::nan("") << "";
}

void TestWaveformView::durationFormat()
{
    QFETCH(double, seconds);
    QFETCH(QString, text);
    QCOMPARE(WaveformView::formatDuration(seconds), text);
}

void TestWaveformView::textStates()
{
    QCOMPARE(m_view->titleText(), QString());
    QCOMPARE(m_view->placeholderText(), QStringLiteral("No sample playing"));

    const QString tone = makeTone(QStringLiteral("Kick 01.wav"), 2.0);
    QVERIFY(!tone.isEmpty());
    QVERIFY(m_player->play(QUrl::fromLocalFile(tone)));
    QCOMPARE(m_view->placeholderText(), QStringLiteral("Loading waveform\u2026"));
    QCOMPARE(
        m_view->titleText(),
        QStringLiteral(
            "Kick 01.wav  \u00B7  0:02  \u00B7  WAV \u00B7 44.1 kHz \u00B7 16-bit \u00B7 mono"));

    waitForBars();
    QCOMPARE(m_view->placeholderText(), QString());

    // The waveform and title stay after playback stops.
    m_player->stop();
    QCOMPARE(m_view->placeholderText(), QString());
    QCOMPARE(
        m_view->titleText(),
        QStringLiteral(
            "Kick 01.wav  \u00B7  0:02  \u00B7  WAV \u00B7 44.1 kHz \u00B7 16-bit \u00B7 mono"));

    // A file that cannot be previewed clears everything.
    const QString ogg = m_dir.filePath(QStringLiteral("loop.ogg"));
    QVERIFY(TestSupport::writeFile(ogg, "OggS"));
    QVERIFY(!m_player->play(QUrl::fromLocalFile(ogg)));
    QCOMPARE(m_view->titleText(), QString());
    QCOMPARE(m_view->placeholderText(), QStringLiteral("No sample playing"));
}

void TestWaveformView::shortAndUnavailableFiles()
{
    const QString blip = makeTone(QStringLiteral("blip.wav"), 0.3);
    QVERIFY(!blip.isEmpty());
    QVERIFY(m_player->play(QUrl::fromLocalFile(blip)));
    QCOMPARE(m_view->titleText(),
             QStringLiteral("blip.wav  \u00B7  WAV \u00B7 44.1 kHz \u00B7 16-bit \u00B7 mono"));

    // The file disappears before its extraction can open it (the pool is held until then),
    // while playback keeps the handle it already has.
    const QString gone = makeTone(QStringLiteral("gone.wav"), 3.0);
    QVERIFY(!gone.isEmpty());
    QThreadPool *pool = QThreadPool::globalInstance();
    const int threads = pool->maxThreadCount();
    pool->setMaxThreadCount(1);
    QSemaphore hold;
    QSemaphore held;
    pool->start([&] {
        held.release();
        hold.acquire();
    });
    held.acquire();
    const bool playing = m_player->play(QUrl::fromLocalFile(gone));
    QFile::remove(gone);
    hold.release();
    pool->setMaxThreadCount(threads);
    QVERIFY(playing);
    QTRY_VERIFY_WITH_TIMEOUT(!m_player->isGeneratingWaveform(), 10000);
    QVERIFY(!m_player->playingURL().isEmpty());
    QCOMPARE(m_view->placeholderText(), QStringLiteral("Waveform unavailable"));
    QCOMPARE(m_view->titleText(),
             QStringLiteral(
                 "gone.wav  \u00B7  0:03  \u00B7  WAV \u00B7 44.1 kHz \u00B7 16-bit \u00B7 mono"));
}

void TestWaveformView::clickSeeks_data()
{
    QTest::addColumn<qreal>("fraction");
    QTest::newRow("middle") << 0.5;
    QTest::newRow("first quarter") << 0.25;
    QTest::newRow("left edge") << 0.0;
    QTest::newRow("last pixel") << 599.0 / 600.0;
}

void TestWaveformView::clickSeeks()
{
    QFETCH(qreal, fraction);
    const QString tone = makeTone(QStringLiteral("pad.wav"), 4.0);
    QVERIFY(!tone.isEmpty());
    const QUrl url = QUrl::fromLocalFile(tone);
    QVERIFY(m_player->play(url));
    waitForBars();
    m_player->stop();
    QVERIFY(m_player->playingURL().isEmpty());

    // A click on a stopped sample plays it again from the clicked point.
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    const QRectF area = m_view->waveformArea();
    const QPoint point(int(area.left() + fraction * area.width()), int(area.center().y()));
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, point);
    QCOMPARE(m_player->playingURL(), url);
    QVERIFY(std::abs(m_player->progress() - fraction) < 1e-9);
}

void TestWaveformView::dragSeeksAndClamps()
{
    const QString tone = makeTone(QStringLiteral("pad.wav"), 4.0);
    QVERIFY(!tone.isEmpty());
    QVERIFY(m_player->play(QUrl::fromLocalFile(tone)));
    waitForBars();
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    const QRectF area = m_view->waveformArea();
    const int y = int(area.center().y());

    // The title line is not part of the waveform: a click there leaves the playhead alone.
    QVERIFY(area.top() > 0);
    QTest::mouseClick(m_view.get(), Qt::LeftButton, {}, QPoint(300, 2));
    QCOMPARE(m_player->progress(), 0.0);

    QSignalSpy seeks(m_player.get(), &AudioPreviewPlayer::progressChanged);
    QTest::mousePress(m_view.get(), Qt::LeftButton, {}, QPoint(150, y));
    QVERIFY(std::abs(m_player->progress() - 0.25) < 1e-9);
    QTest::mouseMove(m_view.get(), QPoint(450, y));
    QVERIFY(std::abs(m_player->progress() - 0.75) < 1e-9);
    // Past either end the drag holds at the ends.
    QTest::mouseMove(m_view.get(), QPoint(900, y));
    QCOMPARE(m_player->progress(), 1.0);
    QTest::mouseMove(m_view.get(), QPoint(-40, y));
    QCOMPARE(m_player->progress(), 0.0);
    QTest::mouseRelease(m_view.get(), Qt::LeftButton, {}, QPoint(-40, y));
    QVERIFY(seeks.count() >= 4);
    // After the release, moving no longer seeks.
    QTest::mouseMove(m_view.get(), QPoint(300, y));
    QCOMPARE(m_player->progress(), 0.0);
}

void TestWaveformView::hoverLine()
{
    const QString tone = makeTone(QStringLiteral("pad.wav"), 4.0);
    QVERIFY(!tone.isEmpty());
    QVERIFY(m_player->play(QUrl::fromLocalFile(tone)));
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    QVERIFY(!m_view->hoverX());

    const int y = int(m_view->waveformArea().center().y());
    QTest::mouseMove(m_view.get(), QPoint(123, y));
    QTRY_COMPARE(m_view->hoverX().value_or(-1), 123.0);
    // Over the title there is no hover line.
    QTest::mouseMove(m_view.get(), QPoint(200, 2));
    QTRY_VERIFY(!m_view->hoverX());
    QTest::mouseMove(m_view.get(), QPoint(50, y));
    QTRY_COMPARE(m_view->hoverX().value_or(-1), 50.0);
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(m_view.get(), &leave);
    QVERIFY(!m_view->hoverX());
}

void TestWaveformView::progressRepaintsOnlyThePlayhead()
{
    const QString tone = makeTone(QStringLiteral("pad.wav"), 4.0);
    QVERIFY(!tone.isEmpty());
    QVERIFY(m_player->play(QUrl::fromLocalFile(tone)));
    waitForBars();
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    QCoreApplication::processEvents();

    PaintRecorder recorder;
    m_view->installEventFilter(&recorder);
    m_player->seek(0.3);
    m_player->seek(0.6);
    QTRY_VERIFY(!recorder.rects.isEmpty());
    QCoreApplication::processEvents();
    m_view->removeEventFilter(&recorder);

    // Moving the playhead repaints thin strips around its old and new places, never the bars.
    const QRectF area = m_view->waveformArea();
    QRegion painted;
    for (const QRect &rect : std::as_const(recorder.rects))
        painted += rect;
    int paintedWidth = 0;
    for (const QRect &rect : painted)
        paintedWidth += rect.width();
    QVERIFY2(paintedWidth <= 24,
             qPrintable(QStringLiteral("painted %1 columns").arg(paintedWidth)));
    QVERIFY(
        painted.contains(QPoint(int(area.left() + 0.6 * area.width()), int(area.center().y()))));
}

QTEST_MAIN(TestWaveformView)
#include "tst_waveformview.moc"
