// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "DestructiveMenuStyle.h"

#include <QMenu>
#include <QStyleOptionMenuItem>

namespace {
const QColor destructiveRed = QColor::fromRgbF(1.0f, 0.27f, 0.23f);
} // namespace

void DestructiveMenuStyle::install(QMenu &menu)
{
    auto *style = new DestructiveMenuStyle;
    style->setParent(&menu);
    menu.setStyle(style);
}

void DestructiveMenuStyle::drawControl(ControlElement element, const QStyleOption *option,
                                       QPainter *painter, const QWidget *widget) const
{
    const auto *menu = qobject_cast<const QMenu *>(widget);
    const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
    if (element != CE_MenuItem || !menu || !item) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const QAction *action = menu->actionAt(item->rect.center());
    if (!action || action->objectName() != QLatin1String("destructive") || !action->isEnabled()) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    QStyleOptionMenuItem red = *item;
    for (QPalette::ColorRole role :
         {QPalette::Text, QPalette::ButtonText, QPalette::WindowText, QPalette::HighlightedText})
        red.palette.setColor(role, destructiveRed);
    QProxyStyle::drawControl(element, &red, painter, widget);
}
