// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "UiFixtures.h"

#include "GradientSlider.h"
#include "SymbolIcon.h"
#include "TagSwatch.h"
#include "VolumeBar.h"

#include <QAbstractButton>
#include <QLabel>

class TestVolumeBar : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        m_bar.reset();
        m_f.reset();
    }
    void init()
    {
        m_f = std::make_unique<SearchFixture>();
        m_player = m_f->player.get();
        m_bar = std::make_unique<VolumeBar>(*m_f->model, *m_player);
        m_bar->resize(520, m_bar->sizeHint().height());
        m_bar->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_bar.get()));
    }

    void volumeDisplay_data()
    {
        QTest::addColumn<float>("volume");
        QTest::addColumn<int>("percent");
        QTest::addColumn<bool>("muted");
        QTest::addColumn<QString>("symbol");
        QTest::newRow("silent") << 0.0f << 0 << true << "speaker.slash.fill";
        QTest::newRow("below a thousandth") << 0.0009f << 0 << false << "speaker.slash.fill";
        QTest::newRow("a thousandth") << 0.001f << 0 << false << "speaker.wave.1.fill";
        QTest::newRow("just under 0.34") << 0.339f << 34 << false << "speaker.wave.1.fill";
        QTest::newRow("0.34") << 0.34f << 34 << false << "speaker.wave.2.fill";
        QTest::newRow("rounds up") << 0.506f << 51 << false << "speaker.wave.2.fill";
        QTest::newRow("rounds down") << 0.504f << 50 << false << "speaker.wave.2.fill";
        QTest::newRow("just under 0.67") << 0.669f << 67 << false << "speaker.wave.2.fill";
        QTest::newRow("0.67") << 0.67f << 67 << false << "speaker.wave.3.fill";
        QTest::newRow("full") << 1.0f << 100 << false << "speaker.wave.3.fill";
    }

    void volumeDisplay()
    {
        QFETCH(float, volume);
        QFETCH(int, percent);
        QFETCH(bool, muted);
        QFETCH(QString, symbol);
        QVERIFY(SymbolIcon::exists(symbol));
        // From 0.8 first, so every row is a real change the bar must follow.
        m_player->setVolume(0.8f);
        m_player->setVolume(volume);
        QCOMPARE(shown(), symbol + QLatin1String(muted ? " Unmute " : " Mute ") +
                              QString::number(percent) + "%");
        QCOMPARE(m_bar->slider()->value(), volume);
    }

    void muteAndSlider()
    {
        QCOMPARE(shown(), "speaker.wave.3.fill Mute 80%");
        m_player->setVolume(0.6f);
        QTest::mouseClick(m_bar->muteButton(), Qt::LeftButton);
        QCOMPARE(m_player->volume(), 0.0f);
        QCOMPARE(shown(), "speaker.slash.fill Unmute 0%");
        QTest::mouseClick(m_bar->muteButton(), Qt::LeftButton);
        QCOMPARE(m_player->volume(), 0.6f);
        QCOMPARE(shown(), "speaker.wave.2.fill Mute 60%");

        // A click jumps to the clicked point; a drag follows the pointer and holds at the ends.
        GradientSlider *slider = m_bar->slider();
        QCOMPARE(slider->width(), 116);
        const int y = slider->height() / 2;
        QTest::mouseClick(slider, Qt::LeftButton, {}, QPoint(29, y));
        QCOMPARE(m_player->volume(), 29.0f / 116.0f);
        QCOMPARE(dragValues(slider, y, {58, 400, -30, 100}, [&] { return m_player->volume(); }),
                 QList<int>({500, 1000, 0, 0}));
        QCOMPARE(m_f->prefs->objectForKey(QStringLiteral("masterVolume")).toFloat(), 0.0f);
    }

    void swatches()
    {
        // One swatch per colour, in order; a click adds its filter beside another and removes it.
        QList<FinderTag> order;
        for (TagSwatch *swatch : m_bar->swatches()) {
            const FinderTag tag = swatch->tag();
            const QString name = FinderTags::displayName(tag);
            order.append(tag);
            const FinderTag other = tag == FinderTag::Red ? FinderTag::Gray : FinderTag::Red;
            m_f->model->setActiveTagFilters({other});
            QTest::mouseClick(swatch, Qt::LeftButton);
            QCOMPARE(m_f->model->activeTagFilters(), FinderTagSet({tag, other}));
            QVERIFY(swatch->isActive());
            QCOMPARE(swatch->toolTip(), "Showing " + name + " tagged items. Click to stop");
            QTest::mouseClick(swatch, Qt::LeftButton);
            QCOMPARE(m_f->model->activeTagFilters(), FinderTagSet({other}));
            QVERIFY(!swatch->isActive());
            QCOMPARE(swatch->toolTip(), "Show only " + name + " tagged items");
        }
        QCOMPARE(order, QList<FinderTag>(FinderTags::all.cbegin(), FinderTags::all.cend()));
    }

private:
    QString shown() const
    {
        return QStringList({m_bar->muteButton()->property("symbol").toString(),
                            m_bar->muteButton()->toolTip(), m_bar->percentLabel()->text()})
            .join(' ');
    }

    std::unique_ptr<SearchFixture> m_f;
    std::unique_ptr<VolumeBar> m_bar;
    AudioPreviewPlayer *m_player = nullptr;
};

QTEST_MAIN(TestVolumeBar)
#include "tst_volumebar.moc"
