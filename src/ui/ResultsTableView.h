#pragma once

#include <QTableView>

class AudioPreviewPlayer;
class BrowserModel;
class TagStore;

// The flat list of search results shown in place of the tree while searching.
class ResultsTableView final : public QTableView
{
    Q_OBJECT

public:
    ResultsTableView(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                     QWidget *parent = nullptr);
    ~ResultsTableView() override;
    Q_DISABLE_COPY_MOVE(ResultsTableView)

private:
    BrowserModel &m_model;
    AudioPreviewPlayer &m_player;
    TagStore &m_tags;
};
