// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QProxyStyle>

class QMenu;

// Draws the menu items whose action is named "destructive" in red, as commands that remove
// something are drawn.
class DestructiveMenuStyle final : public QProxyStyle
{
    Q_OBJECT

public:
    // Owned by `menu`.
    static void install(QMenu &menu);

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override;

private:
    DestructiveMenuStyle() = default;
};
