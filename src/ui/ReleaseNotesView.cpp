// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ReleaseNotesView.h"

#include <QImage>
#include <QTextDocument>

namespace {

// A refused image would be drawn as Qt's broken-image symbol; a transparent pixel draws nothing.
QVariant refused(int type)
{
    if (type != QTextDocument::ImageResource)
        return {};
    QImage nothing(1, 1, QImage::Format_ARGB32);
    nothing.fill(Qt::transparent);
    return nothing;
}

// QTextBrowser's own document would fetch resources by itself; this one refuses them all.
class InertDocument final : public QTextDocument
{
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int type, const QUrl &) override { return refused(type); }
};

} // namespace

ReleaseNotesView::ReleaseNotesView(QWidget *parent) : QTextBrowser(parent)
{
    setObjectName(QStringLiteral("releaseNotes"));
    setDocument(new InertDocument(this));
    setOpenLinks(false);
    setOpenExternalLinks(false);
    setSearchPaths({});
}

ReleaseNotesView::~ReleaseNotesView() = default;

void ReleaseNotesView::setNotes(const QString &html)
{
    setHtml(html);
}

QVariant ReleaseNotesView::loadResource(int type, const QUrl &)
{
    return refused(type);
}
