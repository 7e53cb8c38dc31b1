// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "ShareGate.h"

#include <algorithm>
#include <thread>

namespace {

constexpr auto retryEvery = std::chrono::milliseconds(20);

qint64 nowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

struct ShareGate::Pass::Holder
{
    QString share;
    std::atomic<qint64> lastAnswer{0};
};

ShareGate::Pass::Pass(std::shared_ptr<ShareGate> gate, std::shared_ptr<Holder> holder)
    : m_gate(std::move(gate)), m_holder(std::move(holder))
{}

ShareGate::Pass::~Pass()
{
    m_gate->leave(m_holder);
}

void ShareGate::Pass::answered()
{
    m_holder->lastAnswer.store(nowNanoseconds(), std::memory_order_relaxed);
}

std::chrono::milliseconds ShareGate::Pass::unansweredFor() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::nanoseconds(
        nowNanoseconds() - m_holder->lastAnswer.load(std::memory_order_relaxed)));
}

std::shared_ptr<ShareGate> ShareGate::create(std::chrono::milliseconds answerWithin)
{
    return std::shared_ptr<ShareGate>(new ShareGate(answerWithin));
}

ShareGate::ShareGate(std::chrono::milliseconds answerWithin) : m_answerWithin(answerWithin) {}

ShareGate::Entry ShareGate::enter(const QString &share, const std::function<bool()> &superseded)
{
    const qint64 limit =
        std::chrono::duration_cast<std::chrono::nanoseconds>(m_answerWithin).count();
    while (!superseded()) {
        {
            const std::lock_guard lock(m_mutex);
            const qint64 now = nowNanoseconds();
            int onShare = 0;
            int silentOnShare = 0;
            int silent = 0;
            for (const std::shared_ptr<Pass::Holder> &holder : m_holders) {
                const bool quiet =
                    now - holder->lastAnswer.load(std::memory_order_relaxed) >= limit;
                silent += quiet ? 1 : 0;
                if (holder->share == share) {
                    ++onShare;
                    silentOnShare += quiet ? 1 : 0;
                }
            }
            const int all = int(m_holders.size());
            if (onShare < passesPerShare && all < passesInAll) {
                auto holder = std::make_shared<Pass::Holder>();
                holder->share = share;
                holder->lastAnswer.store(now, std::memory_order_relaxed);
                m_holders.push_back(holder);
                return {Answer::Admitted,
                        std::unique_ptr<Pass>(new Pass(shared_from_this(), std::move(holder)))};
            }
            if ((onShare >= passesPerShare && silentOnShare == onShare) ||
                (all >= passesInAll && silent == all))
                return {Answer::NotAnswering, nullptr};
        }
        std::this_thread::sleep_for(retryEvery);
    }
    return {Answer::Superseded, nullptr};
}

void ShareGate::leave(const std::shared_ptr<Pass::Holder> &holder)
{
    const std::lock_guard lock(m_mutex);
    m_holders.erase(std::remove(m_holders.begin(), m_holders.end(), holder), m_holders.end());
}
