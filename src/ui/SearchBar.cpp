#include "SearchBar.h"

#include "BrowserModel.h"

SearchBar::SearchBar(BrowserModel &model, QWidget *parent) : QWidget(parent), m_model(model) {}

SearchBar::~SearchBar() = default;
