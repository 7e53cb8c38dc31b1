// SPDX-FileCopyrightText: 2026 The Wavelark developers
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

// Bounds the threads the preview can lose to a share that stops answering. A thread takes a pass
// before its first call on a share and gives it back when its calls are done; a call that never
// returns keeps its pass for good. While every pass of a share is held by a call that has not
// answered for a while, the share is refused at once, until one of them comes back.
// Thread-safe; owned jointly by the player and the threads that hold its passes.
class ShareGate final : public std::enable_shared_from_this<ShareGate>
{
public:
    static constexpr int passesPerShare = 4;
    static constexpr int passesInAll = 16;

    // A thread's place at the gate; the destructor gives it back.
    class Pass final
    {
    public:
        ~Pass();
        Q_DISABLE_COPY_MOVE(Pass)

        // A call came back: the share is alive.
        void answered();
        // Since the pass was taken or the share last answered.
        std::chrono::milliseconds unansweredFor() const;

    private:
        friend class ShareGate;
        struct Holder;
        Pass(std::shared_ptr<ShareGate> gate, std::shared_ptr<Holder> holder);

        std::shared_ptr<ShareGate> m_gate;
        std::shared_ptr<Holder> m_holder;
    };

    enum class Answer
    {
        Admitted,
        NotAnswering, // every pass of the share is held by a call that has not answered
        Superseded,   // nobody wants the call any more
    };
    struct Entry
    {
        Answer answer = Answer::Superseded;
        std::unique_ptr<Pass> pass; // when admitted
    };

    static std::shared_ptr<ShareGate> create(std::chrono::milliseconds answerWithin);
    Q_DISABLE_COPY_MOVE(ShareGate)

    // How long a call may go without an answer before its share counts as not answering.
    std::chrono::milliseconds answerWithin() const { return m_answerWithin; }

    // While the passes are all taken by calls still within their time, waits for one to come
    // back, asking `superseded` every few milliseconds. Never on the GUI thread.
    Entry enter(const QString &share, const std::function<bool()> &superseded);

private:
    explicit ShareGate(std::chrono::milliseconds answerWithin);
    void leave(const std::shared_ptr<Pass::Holder> &holder);

    const std::chrono::milliseconds m_answerWithin;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<Pass::Holder>> m_holders;
};
