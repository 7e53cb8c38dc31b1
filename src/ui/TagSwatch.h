// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "tags/FinderTag.h"

#include <QAbstractButton>

// One colour of the tag filters: a dot in the tag's colour, ringed in white while its filter is
// on. Clicking reports through QAbstractButton::clicked; the owner switches the filter.
class TagSwatch final : public QAbstractButton
{
    Q_OBJECT
    Q_PROPERTY(bool active READ isActive WRITE setActive NOTIFY activeChanged)

public:
    static constexpr int boxSize = 20;

    explicit TagSwatch(FinderTag tag, QWidget *parent = nullptr);
    ~TagSwatch() override;
    Q_DISABLE_COPY_MOVE(TagSwatch)

    FinderTag tag() const { return m_tag; }
    bool isActive() const { return m_active; }
    void setActive(bool active);
    bool isHovering() const { return m_hovering; }

    // The help text for `tag` in either state.
    static QString helpText(FinderTag tag, bool active);

    QSize sizeHint() const override;

Q_SIGNALS:
    void activeChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void setHovering(bool hovering);

    FinderTag m_tag;
    bool m_active = false;
    bool m_hovering = false;
};
