// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "VolumeBar.h"

#include "GradientSlider.h"
#include "SymbolIcon.h"
#include "TagSwatch.h"

#include "audio/AudioPreviewPlayer.h"
#include "model/BrowserModel.h"

#include <QAbstractButton>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

#include <cmath>

namespace {

constexpr int sideMargin = 12;
constexpr int verticalMargin = 8;
constexpr int itemSpacing = 8;
constexpr int sliderWidth = 116;
constexpr int percentWidth = 34;
constexpr int dividerHeight = 16;
constexpr int swatchSpacing = 2;
constexpr int collapseGap = 8;
constexpr qreal dimmedOpacity = 0.4;

QColor secondaryColor(const QPalette &palette)
{
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.55f);
    return color;
}

} // namespace

// A plain button that is only its symbol: secondary colour at rest, primary under the pointer,
// faded while disabled.
class SymbolButton final : public QAbstractButton
{
    Q_OBJECT
    Q_PROPERTY(QString symbol READ symbol WRITE setSymbol)

public:
    SymbolButton(const QString &symbol, const QSize &symbolSize, QWidget *parent)
        : QAbstractButton(parent), m_symbol(symbol), m_symbolSize(symbolSize)
    {
        setFocusPolicy(Qt::NoFocus);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString &symbol)
    {
        if (symbol == m_symbol)
            return;
        m_symbol = symbol;
        update();
    }
    bool isHovering() const { return m_hovering; }

    QSize sizeHint() const override { return m_symbolSize + QSize(4, 4); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        if (!isEnabled())
            painter.setOpacity(dimmedOpacity);
        const QColor color = m_hovering && isEnabled() ? palette().color(QPalette::WindowText)
                                                       : secondaryColor(palette());
        const QRectF box(QPointF((width() - m_symbolSize.width()) / 2.0,
                                 (height() - m_symbolSize.height()) / 2.0),
                         m_symbolSize);
        SymbolIcon::paint(painter, box.toAlignedRect(), m_symbol, color);
    }
    void enterEvent(QEnterEvent *event) override
    {
        m_hovering = true;
        update();
        QAbstractButton::enterEvent(event);
    }
    void leaveEvent(QEvent *event) override
    {
        m_hovering = false;
        update();
        QAbstractButton::leaveEvent(event);
    }

private:
    QString m_symbol;
    QSize m_symbolSize;
    bool m_hovering = false;
};

VolumeBar::VolumeBar(BrowserModel &model, AudioPreviewPlayer &player, QWidget *parent)
    : QWidget(parent), m_model(model), m_player(player)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(sideMargin, verticalMargin, sideMargin, verticalMargin);
    row->setSpacing(itemSpacing);

    auto *mute = new SymbolButton(speakerSymbol(m_player.volume()), QSize(16, 16), this);
    mute->setObjectName(QStringLiteral("muteButton"));
    mute->setFixedSize(20, 20);
    m_muteButton = mute;
    row->addWidget(m_muteButton, 0, Qt::AlignVCenter);

    m_slider = new GradientSlider(this);
    m_slider->setFixedSize(sliderWidth, 18);
    row->addWidget(m_slider, 0, Qt::AlignVCenter);

    m_percentLabel = new QLabel(this);
    m_percentLabel->setObjectName(QStringLiteral("volumePercent"));
    m_percentLabel->setFixedWidth(percentWidth);
    m_percentLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont caption = font();
    caption.setPixelSize(11);
    caption.setStyleHint(QFont::SansSerif);
    m_percentLabel->setFont(caption);
    row->addWidget(m_percentLabel, 0, Qt::AlignVCenter);

    m_divider = new QWidget(this);
    m_divider->setFixedSize(1, dividerHeight);
    m_divider->setAutoFillBackground(true);
    row->addWidget(m_divider, 0, Qt::AlignVCenter);

    auto *cluster = new QHBoxLayout;
    cluster->setSpacing(swatchSpacing);
    cluster->addStretch(1);
    auto *collapse = new SymbolButton(QStringLiteral("arrow.uturn.backward"), QSize(14, 12), this);
    collapse->setObjectName(QStringLiteral("collapseButton"));
    collapse->setFixedSize(20, 20);
    collapse->setToolTip(tr("Collapse all folders"));
    m_collapseButton = collapse;
    cluster->addWidget(m_collapseButton, 0, Qt::AlignVCenter);
    cluster->addSpacing(collapseGap - swatchSpacing);
    for (FinderTag tag : FinderTags::all) {
        auto *swatch = new TagSwatch(tag, this);
        m_swatches.append(swatch);
        cluster->addWidget(swatch, 0, Qt::AlignVCenter);
        connect(swatch, &QAbstractButton::clicked, this,
                [this, tag] { m_model.toggleTagFilter(tag); });
    }
    cluster->addStretch(1);
    row->addLayout(cluster, 1);

    connect(m_muteButton, &QAbstractButton::clicked, &m_player, &AudioPreviewPlayer::toggleMute);
    connect(m_slider, &GradientSlider::valueMoved, &m_player, &AudioPreviewPlayer::setVolume);
    connect(&m_player, &AudioPreviewPlayer::volumeChanged, this, &VolumeBar::showVolume);
    connect(m_collapseButton, &QAbstractButton::clicked, &m_model, &BrowserModel::collapseAll);
    connect(&m_model, &BrowserModel::expandedChanged, this, &VolumeBar::showExpansion);
    connect(&m_model, &BrowserModel::activeTagFiltersChanged, this, &VolumeBar::showTagFilters);

    applyColors();
    showVolume();
    showExpansion();
    showTagFilters();
}

VolumeBar::~VolumeBar() = default;

QString VolumeBar::speakerSymbol(float volume)
{
    if (volume < 0.001f)
        return QStringLiteral("speaker.slash.fill");
    if (volume < 0.34f)
        return QStringLiteral("speaker.wave.1.fill");
    if (volume < 0.67f)
        return QStringLiteral("speaker.wave.2.fill");
    return QStringLiteral("speaker.wave.3.fill");
}

QString VolumeBar::percentText(float volume)
{
    return QString::number(std::lround(double(volume) * 100)) + QLatin1Char('%');
}

void VolumeBar::showVolume()
{
    const float volume = m_player.volume();
    static_cast<SymbolButton *>(m_muteButton)->setSymbol(speakerSymbol(volume));
    m_muteButton->setToolTip(volume <= 0 ? tr("Unmute") : tr("Mute"));
    m_slider->setValue(volume);
    m_percentLabel->setText(percentText(volume));
}

void VolumeBar::showExpansion()
{
    m_collapseButton->setEnabled(!m_model.expanded().isEmpty());
}

void VolumeBar::showTagFilters()
{
    const FinderTagSet &active = m_model.activeTagFilters();
    for (TagSwatch *swatch : std::as_const(m_swatches))
        swatch->setActive(active.contains(swatch->tag()));
}

void VolumeBar::applyColors()
{
    QPalette labelPalette = palette();
    labelPalette.setColor(QPalette::WindowText, secondaryColor(palette()));
    m_percentLabel->setPalette(labelPalette);

    QPalette dividerPalette = palette();
    QColor line = palette().color(QPalette::WindowText);
    line.setAlphaF(0.14f);
    dividerPalette.setColor(QPalette::Window, line);
    m_divider->setPalette(dividerPalette);
}

void VolumeBar::changeEvent(QEvent *event)
{
    // The children's colours derive from ours; a palette set on them would not follow the app's.
    if (event->type() == QEvent::PaletteChange)
        applyColors();
    QWidget::changeEvent(event);
}

void VolumeBar::paintEvent(QPaintEvent *)
{
    // A bar surface a shade lighter than the window, like a toolbar over the content.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window).lighter(112));
}

#include "VolumeBar.moc"
