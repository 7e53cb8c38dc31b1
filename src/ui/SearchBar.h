#pragma once

#include <QWidget>

class BrowserModel;

// The search field above the tree, with its scope button.
class SearchBar final : public QWidget
{
    Q_OBJECT

public:
    explicit SearchBar(BrowserModel &model, QWidget *parent = nullptr);
    ~SearchBar() override;
    Q_DISABLE_COPY_MOVE(SearchBar)

private:
    BrowserModel &m_model;
};
