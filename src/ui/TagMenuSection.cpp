#include "TagMenuSection.h"

#include "TagDot.h"
#include "TagStore.h"

#include <QMenu>

void TagMenuSection::addTo(QMenu &menu, TagStore &tags, const QUrl &url, qreal devicePixelRatio,
                           QObject *context)
{
    const FinderTagSet current = tags.tagsFor(url);
    for (FinderTag tag : FinderTags::all) {
        const bool checked = current.contains(tag);
        QAction *action = menu.addAction(TagDot::menuIcon(tag, checked, devicePixelRatio),
                                         FinderTags::displayName(tag));
        action->setCheckable(true);
        action->setChecked(checked);
        QObject::connect(action, &QAction::triggered, context,
                         [&tags, url, tag] { tags.toggleTag(tag, url); });
    }
    QAction *noColor = menu.addAction(QStringLiteral("No Color"));
    noColor->setEnabled(!current.isEmpty());
    QObject::connect(noColor, &QAction::triggered, context,
                     [&tags, url] { tags.setTags({}, url); });
}
