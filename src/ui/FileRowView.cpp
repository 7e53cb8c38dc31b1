// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileRowView.h"

#include "FilePaths.h"
#include "SymbolIcon.h"
#include "TagDot.h"
#include "Theme.h"
#include "TreeRowModel.h"

#include <QAbstractItemView>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <cmath>
#include <numbers>

namespace {

// The list's own row insets; the row content adds its own on top.
constexpr qreal listLeading = 8;
constexpr qreal listTrailing = 8;
constexpr qreal contentLeading = 2;
constexpr qreal contentTrailing = 4;
constexpr qreal itemSpacing = 6;
constexpr qreal disclosureWidth = 10;
constexpr qreal disclosureSize = 8;
constexpr qreal iconSize = 16;
constexpr qreal offlineOpacity = 0.55;
constexpr qreal minimumNameWidth = 120;

const QString offlineText = QStringLiteral("offline");
const QString unansweredText = QStringLiteral("not responding");

// What a root says after its name when the disk cannot show it as usual.
const QString &captionOf(const TreeRowModel::Row &item)
{
    static const QString none;
    return item.isOffline ? offlineText : item.isUnanswered ? unansweredText : none;
}

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

QRectF highlightRect(const QRect &cell)
{
    return QRectF(cell).adjusted(4, 1, -8, -1);
}

void fillRounded(QPainter &painter, const QRectF &rect, const QColor &color)
{
    QPainterPath path;
    path.addRoundedRect(rect, 5, 5);
    painter.fillPath(path, color);
}

const TreeRowModel *rowModel(const QModelIndex &index)
{
    return qobject_cast<const TreeRowModel *>(index.model());
}

} // namespace

struct FileRowView::Layout
{
    QRectF disclosure;
    QRectF icon;
    QRectF name;
    QString elidedName;
    QRectF caption;
    QList<QRectF> dots;
};

FileRowView::FileRowView(QObject *parent) : QStyledItemDelegate(parent) {}

FileRowView::~FileRowView() = default;

void FileRowView::updateFonts(const QFont &font) const
{
    if (font == m_baseFont && m_offlineWidth > 0)
        return;
    m_baseFont = font;
    m_captionFont = font;
    m_captionFont.setPointSizeF(std::max(7.0, font.pointSizeF() * 0.8));
    m_offlineWidth = QFontMetrics(m_captionFont).horizontalAdvance(offlineText);
    m_unansweredWidth = QFontMetrics(m_captionFont).horizontalAdvance(unansweredText);
}

FileRowView::Layout FileRowView::layout(const QStyleOptionViewItem &option,
                                        const TreeRowModel &rows, int row) const
{
    updateFonts(option.font);
    const TreeRowModel::Row &item = rows.rowAt(row);
    const QRectF cell(option.rect);
    const qreal centerY = cell.center().y();
    Layout result;

    // Deep trees stop indenting where the name would lose its room: a folder a hundred levels
    // down still shows what it is called.
    const qreal right = cell.right() + 1 - listTrailing - contentTrailing;
    const qreal deepest = std::max<qreal>(0, right - cell.left() - listLeading - contentLeading -
                                                 disclosureWidth - iconSize - minimumNameWidth);
    qreal x = cell.left() + listLeading +
              std::min<qreal>(item.row.depth * indentWidth,
                              std::floor(deepest / indentWidth) * indentWidth) +
              contentLeading;
    result.disclosure = QRectF(x + (disclosureWidth - disclosureSize) / 2,
                               centerY - disclosureSize / 2, disclosureSize, disclosureSize);
    x += disclosureWidth + itemSpacing;
    result.icon = QRectF(x, centerY - iconSize / 2, iconSize, iconSize);
    x += iconSize + itemSpacing;

    const QList<FinderTag> tags = TreeRowModel::tagsOf(item.tagMask);
    qreal trailing = 0;
    const qreal captionWidth = item.isOffline      ? m_offlineWidth
                               : item.isUnanswered ? m_unansweredWidth
                                                   : 0;
    if (captionWidth > 0)
        trailing += itemSpacing + captionWidth;
    if (!tags.isEmpty())
        trailing += itemSpacing + TagDot::rowWidth(static_cast<int>(tags.size()));

    const QFontMetrics metrics(option.font);
    const qreal available = std::max<qreal>(0, right - x - trailing);
    const QString name = FilePaths::displayText(item.row.node->name());
    const qreal wanted = metrics.horizontalAdvance(name);
    const qreal nameWidth = std::min(wanted, available);
    result.elidedName =
        wanted <= available
            ? name
            : metrics.elidedText(name, Qt::ElideMiddle, static_cast<int>(std::floor(available)));
    result.name = QRectF(x, cell.top(), nameWidth, cell.height());
    x += nameWidth;

    if (captionWidth > 0) {
        x += itemSpacing;
        result.caption = QRectF(x, cell.top(), captionWidth, cell.height());
        x += captionWidth;
    }
    if (!tags.isEmpty()) {
        x += itemSpacing;
        for (qsizetype i = 0; i < tags.size(); ++i) {
            result.dots.append(
                QRectF(x, centerY - TagDot::diameter / 2, TagDot::diameter, TagDot::diameter));
            x += TagDot::diameter + TagDot::spacing;
        }
    }
    return result;
}

void FileRowView::paint(QPainter *painter, const QStyleOptionViewItem &option,
                        const QModelIndex &index) const
{
    const TreeRowModel *rows = rowModel(index);
    if (!rows)
        return QStyledItemDelegate::paint(painter, option, index);
    const TreeRowModel::Row &item = rows->rowAt(index.row());
    const bool selected = option.state & QStyle::State_Selected;
    const bool focused = option.widget && option.widget->hasFocus();
    const QColor primary = option.palette.color(QPalette::Text);
    const QColor secondary = withAlpha(primary, 0.55);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (selected)
        fillRounded(*painter, highlightRect(option.rect),
                    focused ? Theme::accent() : withAlpha(primary, 0.16));
    else if (rows->isHovered(index.row()))
        fillRounded(*painter, highlightRect(option.rect), withAlpha(primary, 0.10));
    else if (item.containsSelection)
        fillRounded(*painter, highlightRect(option.rect), withAlpha(primary, 0.07));

    const Layout geometry = layout(option, *rows, index.row());
    if (item.isOffline || item.isUnanswered)
        painter->setOpacity(offlineOpacity);

    if (item.row.node->isNote()) {
        // Said quietly where the folder's contents would be, without an item's icon.
        QFont note = option.font;
        note.setItalic(true);
        painter->setFont(note);
        painter->setPen(secondary);
        painter->drawText(geometry.icon.united(geometry.name),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          geometry.elidedName);
        painter->restore();
        return;
    }
    if (item.isDirectory) {
        SymbolIcon::paint(*painter, geometry.disclosure,
                          item.isExpanded ? QStringLiteral("chevron.down")
                                          : QStringLiteral("chevron.right"),
                          selected ? withAlpha(Qt::white, 0.75) : secondary);
        SymbolIcon::paint(*painter, geometry.icon,
                          item.isOffline ? QStringLiteral("questionmark.folder")
                                         : QStringLiteral("folder"),
                          selected ? QColor(Qt::white) : Theme::folderBlue());
    } else if (item.isPlaying) {
        // A slow pulse stands in for the platform's variable-colour symbol animation.
        const qreal pulse = 0.55 + 0.45 * (0.5 + 0.5 * std::cos(m_phase * 2 * std::numbers::pi));
        const qreal opacity = painter->opacity();
        painter->setOpacity(opacity * pulse);
        SymbolIcon::paint(*painter, geometry.icon, QStringLiteral("speaker.wave.1.fill"),
                          selected ? QColor(Qt::white) : Theme::accent());
        painter->setOpacity(opacity);
    } else {
        SymbolIcon::paint(*painter, geometry.icon, QStringLiteral("music.note"),
                          selected ? withAlpha(Qt::white, 0.8) : secondary);
    }

    painter->setFont(option.font);
    painter->setPen(selected ? QColor(Qt::white) : primary);
    painter->drawText(geometry.name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      geometry.elidedName);

    if (const QString &caption = captionOf(item); !caption.isEmpty()) {
        painter->setFont(m_captionFont);
        painter->setPen(selected ? withAlpha(Qt::white, 0.75) : secondary);
        painter->drawText(geometry.caption, Qt::AlignLeft | Qt::AlignVCenter, caption);
    }
    const QList<FinderTag> tags = TreeRowModel::tagsOf(item.tagMask);
    for (qsizetype i = 0; i < tags.size(); ++i)
        TagDot(tags.at(i), selected).paint(*painter, geometry.dots.at(i).topLeft());
    painter->restore();
}

QSize FileRowView::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(option.rect.width() > 0 ? option.rect.width() : 200, rowHeight);
}

bool FileRowView::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                            const QStyleOptionViewItem &option, const QModelIndex &index)
{
    const TreeRowModel *rows = rowModel(index);
    if (!rows || !event || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const Layout geometry = layout(option, *rows, index.row());
    const TreeRowModel::Row &item = rows->rowAt(index.row());
    const QList<FinderTag> tags = TreeRowModel::tagsOf(item.tagMask);
    for (qsizetype i = 0; i < tags.size(); ++i) {
        if (geometry.dots.at(i).adjusted(-1, -4, 1, 4).contains(event->pos())) {
            QToolTip::showText(event->globalPos(), TagDot(tags.at(i), false).helpText(), view);
            return true;
        }
    }
    // Only a name cut short by the middle ellipsis needs a tooltip.
    const QString name = FilePaths::displayText(item.row.node->name());
    if (geometry.elidedName != name && geometry.name.contains(event->pos())) {
        QToolTip::showText(event->globalPos(), name, view);
        return true;
    }
    QToolTip::hideText();
    return true;
}
