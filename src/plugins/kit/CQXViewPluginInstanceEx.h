#pragma once

#include "kit/CQXPluginInstance.h"
#include "kit/CWorkingThreadListener.h"
#include "kit/QXTickCount.h"
#include "utility/utility.h"

#include <atomic>
#include <cstdint>

// A view that redraws every P milliseconds on the utility library's shared working thread.
// T is the concrete view, derived from this template; it implements Update().
//
// Threads: Activate, Deactivate and Release come from the program's GUI thread; tick and
// Update run on the working thread, which also deletes the object after Release. Update
// draws into the context's surface and calls UpdateImage; it returns quickly and never
// waits for the GUI thread.
template <typename T, uint32_t P>
class CQXViewPluginInstanceEx : public CQXPluginInstance<IQXViewPluginInstance>,
                                public CWorkingThreadListener<T> {
public:
    explicit CQXViewPluginInstanceEx(IQXViewPluginContext* context)
        : CQXPluginInstance<IQXViewPluginInstance>(context) {}

    // Ticks start; the first one draws, as lastPoll is 0.
    void Activate() override { WorkingThreadAddPeriodicListener(listener(), tickPeriod()); }

    // When the listener is removed no tick runs any more, so the reset cannot be undone by
    // one in progress, and the next Activate draws at its first tick.
    void Deactivate() override {
        WorkingThreadRemoveListener(listener());
        m_lastPoll.store(0, std::memory_order_relaxed);
    }

    // Hands the object to the working thread, which calls release() and so deletes it.
    void Release() override { WorkingThreadFreeListener(listener()); }

    void tick() override { tickAt(tickCount()); }

    // Draws the key's picture and publishes it with UpdateImage.
    virtual void Update() = 0;

    // The period rule, for a tick at the counter value now: an update is due when more than
    // P milliseconds (unsigned 32-bit difference) passed since the last one.
    void tickAt(uint32_t now) {
        if (now - m_lastPoll.load(std::memory_order_relaxed) > P) {
            Update();
            m_lastPoll.store(now, std::memory_order_relaxed);
        }
    }

    // The counter value of the last update; 0 when there was none since the last Deactivate.
    uint32_t lastPoll() const { return m_lastPoll.load(std::memory_order_relaxed); }

protected:
    // Moves the last update's time: 0 makes the next tick update; a time in the past brings
    // the next update nearer. Any thread.
    void setLastPoll(uint32_t value) { m_lastPoll.store(value, std::memory_order_relaxed); }

    // The clock ticks are measured with; a view may use another one (tests do).
    virtual uint32_t tickCount() const { return qxTickCount(); }

    IWorkingThreadListener* listener() { return this; }

    // How often the working thread needs to tick the view: every P milliseconds, as the view
    // draws no more often. A view that moves its own lastPoll (setLastPoll) must be ticked
    // every round, and answers 0.
    virtual uint32_t tickPeriod() const { return P; }

private:
    // Written by the working thread (tick) and the GUI thread (Deactivate).
    std::atomic<uint32_t> m_lastPoll{0};
};
