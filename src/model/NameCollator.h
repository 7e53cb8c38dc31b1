// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCollator>
#include <QString>

// The user's locale-aware, case-insensitive name order, shared by the tree and the tag scope.
// One per thread: QCollator is not safe to share across threads.
class NameCollator final
{
public:
    static const NameCollator &instance();
    int compare(const QString &a, const QString &b) const { return m_collator.compare(a, b); }
    // Comparing keys costs a byte comparison; worth it when one name meets many others.
    // Qt's C-locale collator compares ignoring case but makes its keys from the raw code units.
    QCollatorSortKey sortKey(const QString &name) const
    {
        return m_collator.sortKey(m_isCLocale ? name.toCaseFolded() : name);
    }

private:
    NameCollator();
    QCollator m_collator;
    bool m_isCLocale;
};
