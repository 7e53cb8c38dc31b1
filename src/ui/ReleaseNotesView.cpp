#include "ReleaseNotesView.h"

#include <QTextDocument>

namespace {

// QTextBrowser's own document would fetch resources by itself; this one refuses them all.
class InertDocument final : public QTextDocument
{
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl &) override { return {}; }
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

QVariant ReleaseNotesView::loadResource(int, const QUrl &)
{
    return {};
}
