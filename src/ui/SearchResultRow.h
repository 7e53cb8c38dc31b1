// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FinderTag.h"

#include <QStyledItemDelegate>

#include <utility>

// Paints one search result: icon, name shortened in the middle, and up to three tag dots, on a
// rounded background for the selected or hovered row. Reads everything from ResultsModel roles.
class SearchResultRow final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int rowHeight = 32;
    static constexpr int maxTagDots = 3;

    // What one row shows; the painting depends on nothing else.
    struct Look
    {
        QString name;
        // The containing folder, drawn after the name in the secondary colour.
        QString folder;
        QString path;
        bool isDirectory = false;
        bool isPlaying = false;
        bool isSelected = false;
        bool isHovered = false;
        QList<FinderTag> tags;
    };

    explicit SearchResultRow(QObject *parent = nullptr);
    ~SearchResultRow() override;
    Q_DISABLE_COPY_MOVE(SearchResultRow)

    void setHoveredRow(int row) { m_hoveredRow = row; }
    int hoveredRow() const { return m_hoveredRow; }
    // 0…1, the phase of the playing symbol's pulse.
    void setPulse(qreal pulse) { m_pulse = pulse; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    static void paintRow(QPainter &painter, const QRect &rect, const Look &look, const QFont &font,
                         qreal pulse = 1.0);
    static QString iconName(const Look &look);
    static QColor iconColor(const Look &look);
    // The name and the folder as drawn within `width`, both shortened in the middle.
    static std::pair<QString, QString> fittedTexts(const Look &look, const QFontMetrics &metrics,
                                                   int width);
    // The rectangle of each drawn tag dot, in order.
    static QList<QRectF> tagDotRects(const QRect &rect, int tagCount);

private:
    Look lookFor(const QStyleOptionViewItem &option, const QModelIndex &index) const;

    int m_hoveredRow = -1;
    qreal m_pulse = 1.0;
};
