#include "ResultsTableView.h"

#include "AudioPreviewPlayer.h"
#include "BrowserModel.h"
#include "TagStore.h"

ResultsTableView::ResultsTableView(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                                   QWidget *parent)
    : QTableView(parent), m_model(model), m_player(player), m_tags(tags)
{}

ResultsTableView::~ResultsTableView() = default;
