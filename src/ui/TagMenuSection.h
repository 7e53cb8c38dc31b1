#pragma once

#include <QUrl>

class QMenu;
class QObject;
class TagStore;

// The tag part of every context menu: one checkable item per colour, its dot carrying the check
// mark, then "No Color". Each item toggles through the store, so all menus agree.
class TagMenuSection final
{
public:
    TagMenuSection() = delete;

    // Actions are connected with `context`, so they die with it.
    static void addTo(QMenu &menu, TagStore &tags, const QUrl &url, qreal devicePixelRatio,
                      QObject *context);
};
