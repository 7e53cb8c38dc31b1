#include "AudioFixtures.h"

#include "audio/PeakBuilder.h"

#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

// Feeds interleaved frames to a builder in blocks of `block` frames.
QList<float> build(const std::vector<float> &interleaved, int channels, int count, qint64 length,
                   qint64 block)
{
    PeakBuilder builder(count, length);
    const qint64 frames = qint64(interleaved.size()) / channels;
    std::vector<std::vector<float>> planes(static_cast<size_t>(channels));
    for (qint64 start = 0; start < frames; start += block) {
        const qint64 n = std::min(block, frames - start);
        std::vector<const float *> pointers;
        for (int c = 0; c < channels; ++c) {
            planes[size_t(c)].resize(size_t(n));
            for (qint64 i = 0; i < n; ++i)
                planes[size_t(c)][size_t(i)] = interleaved[size_t((start + i) * channels + c)];
            pointers.push_back(planes[size_t(c)].data());
        }
        builder.add(pointers.data(), channels, n);
    }
    return builder.normalised();
}

} // namespace

class TestPeakBuilder : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void matchesPerFrameRule_data();
    void matchesPerFrameRule();
    void shortFileFillsOnlyReachedSlices();
    void loudestSliceIsExactlyOne();
    void silenceGivesZeros();
    void channelsAreNotMixed();
    void framesBeyondLengthAreIgnored();
    void nanSamplesNeverWin();
};

void TestPeakBuilder::matchesPerFrameRule_data()
{
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("count");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<qint64>("block");

    QTest::newRow("stereo, 260 slices, 64 Ki blocks")
        << 2 << 260 << qint64(200'003) << qint64(65536);
    QTest::newRow("mono, frames not a multiple") << 1 << 260 << qint64(1'001) << qint64(7);
    QTest::newRow("blocks of one frame") << 2 << 13 << qint64(977) << qint64(1);
    QTest::newRow("one slice") << 2 << 1 << qint64(5'000) << qint64(333);
    QTest::newRow("more slices than frames") << 3 << 260 << qint64(37) << qint64(5);
    QTest::newRow("block boundary inside slices") << 2 << 260 << qint64(65'537) << qint64(4096);
}

void TestPeakBuilder::matchesPerFrameRule()
{
    QFETCH(int, channels);
    QFETCH(int, count);
    QFETCH(qint64, length);
    QFETCH(qint64, block);

    QRandomGenerator random(qHash(QTest::currentDataTag()));
    std::vector<float> samples(size_t(length * channels));
    for (float &sample : samples)
        sample = float(random.generateDouble() * 2 - 1) * float(random.bounded(100)) / 100.0f;

    const QList<float> expected = AudioFixtures::referencePeaks(samples, channels, count);
    QCOMPARE(build(samples, channels, count, length, block), expected);
}

void TestPeakBuilder::shortFileFillsOnlyReachedSlices()
{
    std::vector<float> samples(100, 0.25f);
    const QList<float> peaks = build(samples, 1, 260, 100, 100);
    QCOMPARE(peaks.size(), 260);
    for (int k = 0; k < 260; ++k) {
        // Slice k is reached when some frame f has floor(f * 260 / 100) == k.
        const bool reached = (k * 100 + 259) / 260 < (k * 100 + 100 + 259) / 260;
        QCOMPARE(peaks[k], reached ? 1.0f : 0.0f);
    }
    QCOMPARE(peaks[0], 1.0f);
    QCOMPARE(peaks[1], 0.0f);
    QCOMPARE(peaks[2], 1.0f);
    QCOMPARE(peaks[5], 1.0f);
    QCOMPARE(peaks[7], 1.0f);
}

void TestPeakBuilder::loudestSliceIsExactlyOne()
{
    std::vector<float> samples(2600, 0.0f);
    samples[1234] = -0.5f; // slice 123
    samples[10] = 0.125f;  // slice 1
    const QList<float> peaks = build(samples, 1, 260, 2600, 512);
    QCOMPARE(peaks[123], 1.0f);
    QCOMPARE(peaks[1], 0.25f);
    QCOMPARE(*std::max_element(peaks.begin(), peaks.end()), 1.0f);
}

void TestPeakBuilder::silenceGivesZeros()
{
    const QList<float> peaks = build(std::vector<float>(4000, 0.0f), 2, 260, 2000, 300);
    QCOMPARE(peaks, QList<float>(260, 0.0f));

    PeakBuilder empty(260, 1000);
    QCOMPARE(empty.normalised(), QList<float>(260, 0.0f));
}

void TestPeakBuilder::channelsAreNotMixed()
{
    // Left silent, right at full scale in the second half only.
    std::vector<float> samples;
    for (int f = 0; f < 2600; ++f) {
        samples.push_back(0.0f);
        samples.push_back(f >= 1300 ? 1.0f : 0.01f);
    }
    const QList<float> peaks = build(samples, 2, 260, 2600, 1000);
    QCOMPARE(peaks[0], 0.01f);
    QCOMPARE(peaks[130], 1.0f);
    QCOMPARE(peaks[259], 1.0f);
}

void TestPeakBuilder::framesBeyondLengthAreIgnored()
{
    // A decoder that yields more frames than the stated length must not spill into the last bar
    // or past the array.
    std::vector<float> samples(1000, 0.1f);
    samples[999] = 1.0f;
    PeakBuilder builder(10, 500);
    const float *plane = samples.data();
    builder.add(&plane, 1, 1000);
    QCOMPARE(builder.framesConsumed(), qint64(1000));
    QCOMPARE(builder.normalised(), QList<float>(10, 1.0f));
}

void TestPeakBuilder::nanSamplesNeverWin()
{
    std::vector<float> samples(64, 0.5f);
    samples[3] = std::numeric_limits<float>::quiet_NaN();
    samples[40] = -std::numeric_limits<float>::quiet_NaN();
    const QList<float> peaks = build(samples, 1, 2, 64, 64);
    QCOMPARE(peaks, (QList<float>{1.0f, 1.0f}));
}

QTEST_GUILESS_MAIN(TestPeakBuilder)
#include "tst_peakbuilder.moc"
