#pragma once

#include <QCollator>
#include <QString>

// The user's locale-aware, case-insensitive name order, shared by the tree and the tag scope.
// Main thread only: QCollator is not safe to share across threads.
class NameCollator final
{
public:
    static const NameCollator &instance();
    int compare(const QString &a, const QString &b) const { return m_collator.compare(a, b); }

private:
    NameCollator();
    QCollator m_collator;
};
