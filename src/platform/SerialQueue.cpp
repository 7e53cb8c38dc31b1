// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "SerialQueue.h"

SerialQueue::SerialQueue(const QString &label) : m_label(label)
{
    m_pool.setObjectName(label);
    m_pool.setMaxThreadCount(1);
    m_pool.setExpiryTimeout(5000);
}

SerialQueue::~SerialQueue()
{
    m_pool.waitForDone();
}

void SerialQueue::enqueue(std::function<void()> task)
{
    m_pool.start(std::move(task));
}

void SerialQueue::waitForDone()
{
    m_pool.waitForDone();
}
