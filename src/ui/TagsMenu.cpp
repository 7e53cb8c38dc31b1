#include "TagsMenu.h"

#include "BrowserModel.h"
#include "DialogPresenter.h"
#include "TagStore.h"

TagsMenu::TagsMenu(BrowserModel &model, TagStore &tags, DialogPresenter &presenter, QWidget *parent)
    : QMenu(QStringLiteral("Tags"), parent), m_model(model), m_tags(tags), m_presenter(presenter)
{
    addAction(QStringLiteral("Import Tags from Finder…"));
    addAction(QStringLiteral("Export Tags to Finder…"));
}

TagsMenu::~TagsMenu() = default;
