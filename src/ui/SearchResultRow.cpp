// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SearchResultRow.h"

#include "ResultsModel.h"
#include "SymbolIcon.h"
#include "TagDot.h"
#include "Theme.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

namespace {
constexpr int leadingPadding = 10;
constexpr int trailingPadding = 8;
constexpr int itemSpacing = 6;
constexpr int iconFrameWidth = 16;
constexpr int iconSize = 14;
constexpr int folderGap = 8;
// The name gives way to the folder until the folder has this share of a narrow row.
constexpr double folderMinimumShare = 0.35;

QColor secondaryColor()
{
    return QColor(235, 235, 245, 153);
}
} // namespace

SearchResultRow::SearchResultRow(QObject *parent) : QStyledItemDelegate(parent) {}

SearchResultRow::~SearchResultRow() = default;

SearchResultRow::Look SearchResultRow::lookFor(const QStyleOptionViewItem &option,
                                               const QModelIndex &index) const
{
    Look look;
    look.name = index.data(Qt::DisplayRole).toString();
    look.folder = index.data(ResultsModel::FolderRole).toString();
    look.path = index.data(Qt::ToolTipRole).toString();
    look.isDirectory = index.data(ResultsModel::IsDirectoryRole).toBool();
    look.isPlaying = index.data(ResultsModel::IsPlayingRole).toBool();
    look.isSelected = option.state.testFlag(QStyle::State_Selected);
    look.isHovered = index.row() == m_hoveredRow;
    const QVariantList raw = index.data(ResultsModel::TagsRole).toList();
    for (const QVariant &value : raw) {
        if (const std::optional<FinderTag> tag = FinderTags::fromRawValue(value.toLongLong()))
            look.tags.append(*tag);
    }
    return look;
}

void SearchResultRow::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    const Look look = lookFor(option, index);
    paintRow(*painter, option.rect, look, option.font, look.isPlaying ? m_pulse : 1.0);
}

QSize SearchResultRow::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(option.rect.width(), rowHeight);
}

bool SearchResultRow::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() == QEvent::ToolTip && index.isValid()) {
        const Look look = lookFor(option, index);
        const QList<QRectF> dots = tagDotRects(option.rect, static_cast<int>(look.tags.size()));
        for (qsizetype i = 0; i < dots.size(); ++i) {
            if (dots.at(i).adjusted(-1, -4, 1, 4).contains(event->pos())) {
                QToolTip::showText(event->globalPos(),
                                   TagDot(look.tags.at(i), look.isSelected).helpText(), view);
                return true;
            }
        }
        if (look.path.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPos(), look.path, view, option.rect);
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}

QString SearchResultRow::iconName(const Look &look)
{
    if (look.isDirectory)
        return QStringLiteral("folder");
    return look.isPlaying ? QStringLiteral("speaker.wave.1.fill") : QStringLiteral("music.note");
}

QColor SearchResultRow::iconColor(const Look &look)
{
    if (look.isSelected)
        return Qt::white;
    if (look.isDirectory)
        return Theme::folderBlue();
    return look.isPlaying ? Theme::accent() : secondaryColor();
}

std::pair<QString, QString> SearchResultRow::fittedTexts(const Look &look,
                                                         const QFontMetrics &metrics, int width)
{
    const int nameWidth = metrics.horizontalAdvance(look.name);
    if (look.folder.isEmpty() || width <= 0)
        return {metrics.elidedText(look.name, Qt::ElideMiddle, std::max(width, 0)), QString()};
    const int folderWidth = metrics.horizontalAdvance(look.folder);
    const int folderRoom = std::min(folderWidth, int(width * folderMinimumShare));
    // elidedText() measures more finely than horizontalAdvance() and would shorten a text that
    // fits exactly, so a text that fits is taken whole.
    const int nameRoom = width - folderGap - folderRoom;
    const QString name = nameWidth <= nameRoom ? look.name
                                               : metrics.elidedText(look.name, Qt::ElideMiddle,
                                                                    std::max(nameRoom, 0));
    const int rest = width - metrics.horizontalAdvance(name) - folderGap;
    if (rest <= 0)
        return {name, QString()};
    return {name, folderWidth <= rest ? look.folder
                                      : metrics.elidedText(look.folder, Qt::ElideMiddle, rest)};
}

QList<QRectF> SearchResultRow::tagDotRects(const QRect &rect, int tagCount)
{
    const int count = std::min(tagCount, maxTagDots);
    QList<QRectF> rects;
    if (count <= 0)
        return rects;
    const qreal right = rect.right() + 1 - trailingPadding;
    qreal x = right - TagDot::rowWidth(count);
    const qreal y = rect.top() + (rect.height() - TagDot::diameter) / 2.0;
    for (int i = 0; i < count; ++i) {
        rects.append(QRectF(x, y, TagDot::diameter, TagDot::diameter));
        x += TagDot::diameter + TagDot::spacing;
    }
    return rects;
}

void SearchResultRow::paintRow(QPainter &painter, const QRect &rect, const Look &look,
                               const QFont &font, qreal pulse)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF background = QRectF(rect).adjusted(4, 1, -4, -1);
    if (look.isSelected || look.isHovered) {
        QPainterPath path;
        path.addRoundedRect(background, 6, 6);
        painter.fillPath(path, look.isSelected ? Theme::accent() : QColor(255, 255, 255, 26));
    }

    int x = rect.left() + leadingPadding;
    const QRectF iconRect(x + (iconFrameWidth - iconSize) / 2.0,
                          rect.top() + (rect.height() - iconSize) / 2.0, iconSize, iconSize);
    QColor color = iconColor(look);
    if (look.isPlaying)
        color.setAlphaF(color.alphaF() * static_cast<float>(0.45 + 0.55 * pulse));
    SymbolIcon::paint(painter, iconRect, iconName(look), color);
    x += iconFrameWidth + itemSpacing;

    const QList<QRectF> dots = tagDotRects(rect, static_cast<int>(look.tags.size()));
    const int nameRight = dots.isEmpty() ? rect.right() + 1 - trailingPadding
                                         : static_cast<int>(dots.constFirst().left()) - itemSpacing;
    const QRect nameRect(x, rect.top(), std::max(0, nameRight - x), rect.height());
    const QFontMetrics metrics(font);
    painter.setFont(font);
    painter.setPen(look.isSelected ? QColor(Qt::white) : QColor(0xe8, 0xe8, 0xea));
    const auto [name, folder] = fittedTexts(look, metrics, nameRect.width());
    painter.drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter, name);
    if (!folder.isEmpty()) {
        const QRect folderRect =
            nameRect.adjusted(metrics.horizontalAdvance(name) + folderGap, 0, 0, 0);
        painter.setPen(look.isSelected ? QColor(255, 255, 255, 191) : secondaryColor());
        painter.drawText(folderRect, Qt::AlignLeft | Qt::AlignVCenter, folder);
    }

    for (qsizetype i = 0; i < dots.size(); ++i)
        TagDot(look.tags.at(i), look.isSelected).paint(painter, dots.at(i).topLeft());
    painter.restore();
}
