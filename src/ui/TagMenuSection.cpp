// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "TagMenuSection.h"

#include "TagDot.h"
#include "TagStore.h"

#include <QMenu>

void TagMenuSection::addTo(QMenu &menu, TagStore &tags, const QUrl &url, qreal devicePixelRatio,
                           QObject *context, Marking marking)
{
    const FinderTagSet current = tags.tagsFor(url);
    for (FinderTag tag : FinderTags::all) {
        const bool checked = current.contains(tag);
        QAction *action = nullptr;
        if (marking == Marking::Checkable) {
            action = menu.addAction(TagDot::menuIcon(tag, checked, devicePixelRatio, 12),
                                    FinderTags::displayName(tag));
            action->setCheckable(true);
            action->setChecked(checked);
        } else {
            const QString suffix = checked ? QStringLiteral("  \u2713") : QString();
            action = menu.addAction(TagDot::menuIcon(tag, false, devicePixelRatio, 11),
                                    FinderTags::displayName(tag) + suffix);
        }
        QObject::connect(action, &QAction::triggered, context,
                         [&tags, url, tag] { tags.toggleTag(tag, url); });
    }
    QAction *noColor = menu.addAction(QStringLiteral("No Color"));
    noColor->setEnabled(!current.isEmpty());
    QObject::connect(noColor, &QAction::triggered, context,
                     [&tags, url] { tags.setTags({}, url); });
}
