// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

class AnalysisStatusBar;
class AudioPreviewPlayer;
class BrowserModel;
class ErrorOverlay;
class QFrame;
class QVBoxLayout;
class SaveProblemBanner;
class SearchBar;
class SidebarView;
class TagStore;
class VolumeBar;
class WaveformView;

// The window content, top to bottom: a settings-save problem when there is one, the volume bar, the
// search bar (only with roots), the sidebar and the waveform, with the error overlay above them
// all.
class ContentView final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int waveformHeight = 88;

    ContentView(BrowserModel &model, AudioPreviewPlayer &player, TagStore &tags,
                QWidget *parent = nullptr);
    ~ContentView() override;
    Q_DISABLE_COPY_MOVE(ContentView)

    QSize sizeHint() const override;
    // A strip of the shell's own, shown under the settings-save problem.
    void addNotice(QWidget *notice);

    VolumeBar *volumeBar() const { return m_volumeBar; }
    SearchBar *searchBar() const { return m_searchBar; }
    SidebarView *sidebar() const { return m_sidebar; }
    WaveformView *waveformView() const { return m_waveform; }
    AnalysisStatusBar *analysisStatus() const { return m_analysisStatus; }
    ErrorOverlay *errorOverlay() const { return m_overlay; }
    SaveProblemBanner *saveProblemBanner() const { return m_saveProblem; }

private:
    void updateSearchBar();

    BrowserModel &m_model;
    QVBoxLayout *m_layout = nullptr;
    SaveProblemBanner *m_saveProblem = nullptr;
    VolumeBar *m_volumeBar = nullptr;
    SearchBar *m_searchBar = nullptr;
    QFrame *m_searchDivider = nullptr;
    SidebarView *m_sidebar = nullptr;
    WaveformView *m_waveform = nullptr;
    AnalysisStatusBar *m_analysisStatus = nullptr;
    ErrorOverlay *m_overlay = nullptr;
};
