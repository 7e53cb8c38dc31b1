// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FinderTag.h"

#include <QIcon>
#include <QRectF>

class QPainter;

// The small colour dot that shows one tag of a row.
class TagDot final
{
public:
    static constexpr qreal diameter = 9;
    static constexpr qreal spacing = 2;

    TagDot(FinderTag tag, bool isSelected) : m_tag(tag), m_isSelected(isSelected) {}

    FinderTag tag() const { return m_tag; }
    bool isSelected() const { return m_isSelected; }
    // The colour's name.
    QString helpText() const;
    void paint(QPainter &painter, const QPointF &topLeft) const;

    // The colour's dot for menus; a checked tag carries its check mark inside the dot, because
    // the menu style draws no check box next to an item that has an image.
    static QIcon menuIcon(FinderTag tag, bool checked, qreal devicePixelRatio, int side);

    // The width of `count` dots laid out in a row.
    static qreal rowWidth(int count);

private:
    FinderTag m_tag;
    bool m_isSelected;
};
