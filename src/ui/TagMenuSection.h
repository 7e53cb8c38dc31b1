// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QUrl>

class QMenu;
class QObject;
class TagStore;

// The tag part of every context menu: one item per colour, then "No Color". Each item toggles
// through the store, so all menus agree on what an item carries.
class TagMenuSection final
{
public:
    TagMenuSection() = delete;

    // How a colour the item carries is marked.
    enum class Marking
    {
        Checkable,  // a checked item, its 12-point dot carrying the check mark (the results)
        NameSuffix, // the name followed by "  ✓", beside an 11-point dot (the tree)
    };

    // Actions are connected with `context`, so they die with it.
    static void addTo(QMenu &menu, TagStore &tags, const QUrl &url, qreal devicePixelRatio,
                      QObject *context, Marking marking);
};
