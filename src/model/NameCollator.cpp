// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "NameCollator.h"

#include <QLocale>

NameCollator::NameCollator()
    : m_collator(QLocale::system()), m_isCLocale(m_collator.locale().language() == QLocale::C)
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setNumericMode(false);
}

const NameCollator &NameCollator::instance()
{
    // QCollator may not be shared across threads; folders are listed on several.
    static thread_local const NameCollator collator;
    return collator;
}
