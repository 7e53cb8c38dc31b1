// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ContentView.h"

#include "AnalysisStatusBar.h"
#include "BrowserModel.h"
#include "ErrorOverlay.h"
#include "ResultsTableView.h"
#include "SaveProblemBanner.h"
#include "SearchBar.h"
#include "SidebarView.h"
#include "Theme.h"
#include "VolumeBar.h"
#include "WaveformView.h"

#include <QAction>
#include <QFrame>
#include <QVBoxLayout>

namespace {

QFrame *makeDivider(QWidget *parent)
{
    auto *divider = new QFrame(parent);
    divider->setObjectName(QStringLiteral("divider"));
    divider->setFrameShape(QFrame::NoFrame);
    divider->setFixedHeight(1);
    divider->setAutoFillBackground(true);
    QPalette palette = divider->palette();
    QColor line = palette.color(QPalette::WindowText);
    line.setAlphaF(0.12f);
    palette.setColor(QPalette::Window, line);
    divider->setPalette(palette);
    return divider;
}

} // namespace

ContentView::ContentView(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                         QWidget *parent)
    : QWidget(parent), m_model(model)
{
    setObjectName(QStringLiteral("contentView"));
    setMinimumSize(260, 400);
    // The content tint colours the accents of every control inside.
    QPalette tinted = palette();
    tinted.setColor(QPalette::Highlight, Theme::accent());
    tinted.setColor(QPalette::Link, Theme::accent());
    setPalette(tinted);

    m_saveProblem = new SaveProblemBanner(model.defaults(), this);
    m_volumeBar = new VolumeBar(model, player, this);
    m_searchBar = new SearchBar(model, this);
    m_searchDivider = makeDivider(this);
    m_sidebar = new SidebarView(model, player, tags, this);
    m_analysisStatus = new AnalysisStatusBar(model, this);
    m_waveform = new WaveformView(player, this);
    m_waveform->setFixedHeight(waveformHeight);
    m_waveform->showSoundFactsFrom(model);

    auto *layout = new QVBoxLayout(this);
    m_layout = layout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_saveProblem);
    layout->addWidget(m_volumeBar);
    layout->addWidget(makeDivider(this));
    layout->addWidget(m_searchBar);
    layout->addWidget(m_searchDivider);
    layout->addWidget(m_sidebar, 1);
    layout->addWidget(m_analysisStatus);
    layout->addWidget(makeDivider(this));
    layout->addWidget(m_waveform);

    ResultsTableView *results = m_sidebar->resultsTable();
    m_analysisStatus->columnsAction()->setChecked(results->soundColumnsShown());
    connect(m_analysisStatus->columnsAction(), &QAction::toggled, results,
            &ResultsTableView::setSoundColumnsShown);

    m_overlay = new ErrorOverlay(model, player, this);
    connect(&model, &BrowserModel::rootsChanged, this, &ContentView::updateSearchBar);
    updateSearchBar();
}

ContentView::~ContentView() = default;

void ContentView::addNotice(QWidget *notice)
{
    m_layout->insertWidget(m_layout->indexOf(m_saveProblem) + 1, notice);
}

QSize ContentView::sizeHint() const
{
    return QSize(320, QWidget::sizeHint().height());
}

void ContentView::updateSearchBar()
{
    const bool hasRoots = !m_model.roots().isEmpty();
    m_searchBar->setVisible(hasRoots);
    m_analysisStatus->setVisible(hasRoots);
    m_searchDivider->setVisible(hasRoots);
}
