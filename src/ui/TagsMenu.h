#pragma once

#include <QMenu>

class BrowserModel;
class DialogPresenter;
class TagStore;

// The "Tags" menu: colour exchange with the file manager.
class TagsMenu final : public QMenu
{
    Q_OBJECT

public:
    TagsMenu(BrowserModel &model, TagStore &tags, DialogPresenter &presenter,
             QWidget *parent = nullptr);
    ~TagsMenu() override;
    Q_DISABLE_COPY_MOVE(TagsMenu)

private:
    BrowserModel &m_model;
    TagStore &m_tags;
    DialogPresenter &m_presenter;
};
