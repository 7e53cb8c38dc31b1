// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFont>
#include <QStyledItemDelegate>

class TreeRowModel;

// Paints one tree row: indentation by depth, disclosure, icon, name, the offline mark and the tag
// dots, with the hover, contains-selection and selection backgrounds. Rows are all one height.
class FileRowView final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int rowHeight = 24;
    static constexpr int indentWidth = 16;

    explicit FileRowView(QObject *parent = nullptr);
    ~FileRowView() override;
    Q_DISABLE_COPY_MOVE(FileRowView)

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // 0…1, the phase of the playing icon's pulse; the view advances it while something plays.
    void setAnimationPhase(qreal phase) { m_phase = phase; }
    qreal animationPhase() const { return m_phase; }

private:
    struct Layout;
    Layout layout(const QStyleOptionViewItem &option, const TreeRowModel &rows, int row) const;
    void updateFonts(const QFont &font) const;

    qreal m_phase = 0;
    mutable QFont m_baseFont;
    mutable QFont m_captionFont;
    mutable int m_offlineWidth = 0;
    mutable int m_unansweredWidth = 0;
};
