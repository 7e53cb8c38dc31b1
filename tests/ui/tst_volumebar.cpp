#include "SilentAudioOutput.h"

#include "GradientSlider.h"
#include "SymbolIcon.h"
#include "TagSwatch.h"
#include "VolumeBar.h"
#include "audio/AudioPreviewPlayer.h"
#include "model/BrowserModel.h"
#include "platform/Preferences.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

class TestVolumeBar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void volumeDisplay_data();
    void volumeDisplay();
    void muteToggles();
    void sliderSetsVolume();
    void collapseButtonFollowsExpansion();
    void swatches_data();
    void swatches();
    void swatchesFollowTheModel();

private:
    QString muteSymbol() const { return m_bar->muteButton()->property("symbol").toString(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Preferences> m_prefs;
    std::unique_ptr<AudioPreviewPlayer> m_player;
    std::unique_ptr<BrowserModel> m_model;
    std::unique_ptr<VolumeBar> m_bar;
};

void TestVolumeBar::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_prefs = std::make_unique<Preferences>(m_dir->filePath(QStringLiteral("prefs.plist")));
    m_player =
        std::make_unique<AudioPreviewPlayer>(*m_prefs, std::make_unique<SilentAudioOutput>());
    m_model = std::make_unique<BrowserModel>(
        *m_prefs, m_dir->filePath(QStringLiteral("index.plist")), false, nullptr);
    m_bar = std::make_unique<VolumeBar>(*m_model, *m_player);
    m_bar->resize(520, m_bar->sizeHint().height());
    m_bar->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_bar.get()));
}

void TestVolumeBar::cleanup()
{
    m_bar.reset();
    m_model.reset();
    m_player.reset();
    m_prefs.reset();
    m_dir.reset();
}

void TestVolumeBar::volumeDisplay_data()
{
    QTest::addColumn<float>("volume");
    QTest::addColumn<int>("percent");
    QTest::addColumn<bool>("muted");
    QTest::addColumn<QString>("symbol");

    QTest::newRow("silent") << 0.0f << 0 << true << "speaker.slash.fill";
    QTest::newRow("below a thousandth") << 0.0009f << 0 << false << "speaker.slash.fill";
    QTest::newRow("a thousandth") << 0.001f << 0 << false << "speaker.wave.1.fill";
    QTest::newRow("quiet") << 0.2f << 20 << false << "speaker.wave.1.fill";
    QTest::newRow("just under 0.34") << 0.339f << 34 << false << "speaker.wave.1.fill";
    QTest::newRow("0.34") << 0.34f << 34 << false << "speaker.wave.2.fill";
    QTest::newRow("rounds up") << 0.506f << 51 << false << "speaker.wave.2.fill";
    QTest::newRow("rounds down") << 0.504f << 50 << false << "speaker.wave.2.fill";
    QTest::newRow("just under 0.67") << 0.669f << 67 << false << "speaker.wave.2.fill";
    QTest::newRow("0.67") << 0.67f << 67 << false << "speaker.wave.3.fill";
    QTest::newRow("full") << 1.0f << 100 << false << "speaker.wave.3.fill";
}

void TestVolumeBar::volumeDisplay()
{
    QFETCH(float, volume);
    QFETCH(int, percent);
    QFETCH(bool, muted);
    QFETCH(QString, symbol);

    QCOMPARE(VolumeBar::speakerSymbol(volume), symbol);
    QVERIFY(SymbolIcon::exists(symbol));

    // From 0.8 first, so every row is a real change the bar must follow.
    m_player->setVolume(0.8f);
    m_player->setVolume(volume);
    QCOMPARE(muteSymbol(), symbol);
    QCOMPARE(m_bar->muteButton()->toolTip(),
             muted ? QStringLiteral("Unmute") : QStringLiteral("Mute"));
    QCOMPARE(m_bar->percentLabel()->text(), QString::number(percent) + QLatin1Char('%'));
    QCOMPARE(m_bar->slider()->value(), volume);
}

void TestVolumeBar::muteToggles()
{
    QCOMPARE(m_bar->percentLabel()->text(), QStringLiteral("80%"));
    QCOMPARE(muteSymbol(), QStringLiteral("speaker.wave.3.fill"));

    m_player->setVolume(0.6f);
    QTest::mouseClick(m_bar->muteButton(), Qt::LeftButton);
    QCOMPARE(m_player->volume(), 0.0f);
    QCOMPARE(muteSymbol(), QStringLiteral("speaker.slash.fill"));
    QCOMPARE(m_bar->muteButton()->toolTip(), QStringLiteral("Unmute"));
    QCOMPARE(m_bar->percentLabel()->text(), QStringLiteral("0%"));
    QCOMPARE(m_bar->slider()->value(), 0.0f);

    QTest::mouseClick(m_bar->muteButton(), Qt::LeftButton);
    QCOMPARE(m_player->volume(), 0.6f);
    QCOMPARE(muteSymbol(), QStringLiteral("speaker.wave.2.fill"));
    QCOMPARE(m_bar->muteButton()->toolTip(), QStringLiteral("Mute"));
    QCOMPARE(m_bar->percentLabel()->text(), QStringLiteral("60%"));
}

void TestVolumeBar::sliderSetsVolume()
{
    GradientSlider *slider = m_bar->slider();
    QCOMPARE(slider->width(), 116);
    QCOMPARE(slider->value(), 0.8f);
    const int y = slider->height() / 2;

    // A click jumps to the clicked point.
    QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(29, y));
    QCOMPARE(m_player->volume(), 29.0f / 116.0f);
    QCOMPARE(m_bar->percentLabel()->text(), QStringLiteral("25%"));

    // A drag follows the pointer and holds at the ends.
    QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(58, y));
    QCOMPARE(m_player->volume(), 0.5f);
    QTest::mouseMove(slider, QPoint(400, y));
    QCOMPARE(m_player->volume(), 1.0f);
    QCOMPARE(muteSymbol(), QStringLiteral("speaker.wave.3.fill"));
    QTest::mouseMove(slider, QPoint(-30, y));
    QCOMPARE(m_player->volume(), 0.0f);
    QCOMPARE(m_bar->muteButton()->toolTip(), QStringLiteral("Unmute"));
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(-30, y));
    QTest::mouseMove(slider, QPoint(100, y));
    QCOMPARE(m_player->volume(), 0.0f);

    // The volume survives in the preferences.
    QCOMPARE(m_prefs->objectForKey(QStringLiteral("masterVolume")).toFloat(), 0.0f);
}

void TestVolumeBar::collapseButtonFollowsExpansion()
{
    QAbstractButton *collapse = m_bar->collapseButton();
    QCOMPARE(collapse->toolTip(), QStringLiteral("Collapse all folders"));
    QVERIFY(!collapse->isEnabled());
    QTest::mouseClick(collapse, Qt::LeftButton);
    QVERIFY(m_model->expanded().isEmpty());

    const QUrl folder = QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("Drums")));
    const QUrl inner = QUrl::fromLocalFile(m_dir->filePath(QStringLiteral("Drums/Kicks")));
    m_model->setExpanded({folder, inner});
    QVERIFY(collapse->isEnabled());

    QTest::mouseClick(collapse, Qt::LeftButton);
    QVERIFY(m_model->expanded().isEmpty());
    QVERIFY(!collapse->isEnabled());
}

void TestVolumeBar::swatches_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<FinderTag>("tag");
    QTest::addColumn<QString>("name");
    QTest::newRow("red") << 0 << FinderTag::Red << "Red";
    QTest::newRow("orange") << 1 << FinderTag::Orange << "Orange";
    QTest::newRow("yellow") << 2 << FinderTag::Yellow << "Yellow";
    QTest::newRow("green") << 3 << FinderTag::Green << "Green";
    QTest::newRow("blue") << 4 << FinderTag::Blue << "Blue";
    QTest::newRow("purple") << 5 << FinderTag::Purple << "Purple";
    QTest::newRow("gray") << 6 << FinderTag::Gray << "Gray";
}

void TestVolumeBar::swatches()
{
    QFETCH(int, index);
    QFETCH(FinderTag, tag);
    QFETCH(QString, name);

    QCOMPARE(m_bar->swatches().size(), 7);
    TagSwatch *swatch = m_bar->swatches().at(index);
    QCOMPARE(swatch->tag(), tag);
    QVERIFY(!swatch->isActive());
    const QString showOnly = QStringLiteral("Show only %1 tagged items").arg(name);
    const QString showing = QStringLiteral("Showing %1 tagged items. Click to stop").arg(name);
    QCOMPARE(swatch->toolTip(), showOnly);

    // Another filter is already on: clicking adds this one beside it.
    const FinderTag other = tag == FinderTag::Red ? FinderTag::Gray : FinderTag::Red;
    m_model->toggleTagFilter(other);
    QTest::mouseClick(swatch, Qt::LeftButton);
    QCOMPARE(m_model->activeTagFilters(), FinderTagSet({tag, other}));
    QVERIFY(swatch->isActive());
    QCOMPARE(swatch->toolTip(), showing);

    QTest::mouseClick(swatch, Qt::LeftButton);
    QCOMPARE(m_model->activeTagFilters(), FinderTagSet({other}));
    QVERIFY(!swatch->isActive());
    QCOMPARE(swatch->toolTip(), showOnly);
}

void TestVolumeBar::swatchesFollowTheModel()
{
    m_model->setActiveTagFilters({FinderTag::Green, FinderTag::Purple});
    QList<bool> active;
    for (const TagSwatch *swatch : m_bar->swatches())
        active.append(swatch->isActive());
    QCOMPARE(active, QList<bool>({false, false, false, true, false, true, false}));

    m_model->setActiveTagFilters({});
    for (const TagSwatch *swatch : m_bar->swatches())
        QVERIFY(!swatch->isActive());
}

QTEST_MAIN(TestVolumeBar)
#include "tst_volumebar.moc"
