// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "AnalysisStatusBar.h"

#include "BrowserModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QRegularExpression>
#include <QToolButton>

AnalysisStatusBar::AnalysisStatusBar(BrowserModel &model, QWidget *parent)
    : QWidget(parent), m_model(model), m_progress(new QLabel(this)), m_pause(new QToolButton(this)),
      m_filter(new QToolButton(this)), m_menu(new QMenu(this))
{
    setObjectName(QStringLiteral("analysisStatusBar"));
    QFont small = font();
    small.setPixelSize(11);
    m_progress->setFont(small);
    m_progress->setForegroundRole(QPalette::PlaceholderText);
    m_pause->setFont(small);
    m_pause->setAutoRaise(true);
    m_pause->setObjectName(QStringLiteral("analysisPause"));
    m_filter->setFont(small);
    m_filter->setAutoRaise(true);
    m_filter->setText(tr("Filter"));
    m_filter->setToolTip(tr("Add a tempo, key, kind or loudness filter to the search"));
    m_filter->setMenu(m_menu);
    m_filter->setPopupMode(QToolButton::InstantPopup);
    m_filter->setObjectName(QStringLiteral("soundFilter"));
    buildMenu();

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 2, 6, 2);
    layout->setSpacing(4);
    layout->addWidget(m_progress, 1);
    layout->addWidget(m_pause);
    layout->addWidget(m_filter);

    SoundAnalysisQueue &queue = m_model.soundAnalysis();
    connect(&queue, &SoundAnalysisQueue::progressChanged, this, &AnalysisStatusBar::update);
    connect(&queue, &SoundAnalysisQueue::pausedChanged, this, &AnalysisStatusBar::update);
    connect(m_pause, &QToolButton::clicked, this,
            [this] { m_model.soundAnalysis().setPaused(!m_model.soundAnalysis().isPaused()); });
    update();
}

AnalysisStatusBar::~AnalysisStatusBar() = default;

void AnalysisStatusBar::update()
{
    const SoundAnalysisQueue &queue = m_model.soundAnalysis();
    const QString text = queue.progressText();
    m_progress->setText(text);
    m_pause->setVisible(!text.isEmpty());
    m_pause->setText(queue.isPaused() ? tr("Resume") : tr("Pause"));
}

QString AnalysisStatusBar::withFilter(const QString &text, const QString &filter)
{
    const QString kind = filter.section(QLatin1Char(':'), 0, 0) + QLatin1Char(':');
    QStringList words = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    words.removeIf(
        [&kind](const QString &word) { return word.startsWith(kind, Qt::CaseInsensitive); });
    words.append(filter);
    return words.join(QLatin1Char(' '));
}

void AnalysisStatusBar::addFilter(const QString &filter)
{
    m_model.setSearchText(withFilter(m_model.searchText(), filter));
    m_model.requestSearchFocus();
}

void AnalysisStatusBar::buildMenu()
{
    const auto add = [this](QMenu *menu, const QString &label, const QString &filter) {
        QAction *action = menu->addAction(label);
        action->setData(filter);
        connect(action, &QAction::triggered, this, [this, filter] { addFilter(filter); });
    };
    add(m_menu, tr("Loops"), QStringLiteral("kind:loop"));
    add(m_menu, tr("One-Shots"), QStringLiteral("kind:one-shot"));
    m_menu->addSeparator();
    QMenu *tempo = m_menu->addMenu(tr("Tempo"));
    for (const auto &[low, high] : {std::pair(60, 80),
                                    {80, 100},
                                    {100, 118},
                                    {118, 122},
                                    {122, 130},
                                    {130, 150},
                                    {150, 180}}) {
        add(tempo, tr("%1–%2 BPM").arg(low).arg(high),
            QStringLiteral("bpm:%1-%2").arg(low).arg(high));
    }
    QMenu *key = m_menu->addMenu(tr("Key"));
    // Each minor key beside its relative major, as a musician reaches for both.
    for (int minor = SoundFacts::keyCount / 2; minor < SoundFacts::keyCount; ++minor) {
        const QString minorName = SoundFacts::keyName(minor);
        const QString majorName = SoundFacts::keyName((minor - 12 + 3) % 12);
        add(key, minorName, QStringLiteral("key:") + minorName);
        add(key, tr("%1 or %2").arg(minorName, majorName),
            QStringLiteral("key:%1,%2").arg(minorName, majorName));
    }
    QMenu *loudness = m_menu->addMenu(tr("Loudness"));
    add(loudness, tr("Loud (−12 to −6 LUFS)"), QStringLiteral("lufs:-12..-6"));
    add(loudness, tr("Medium (−20 to −12 LUFS)"), QStringLiteral("lufs:-20..-12"));
    add(loudness, tr("Quiet (below −20 LUFS)"), QStringLiteral("lufs:-70..-20"));
    m_menu->addSeparator();
    m_columns = m_menu->addAction(tr("Show BPM and Key Columns"));
    m_columns->setCheckable(true);
}
