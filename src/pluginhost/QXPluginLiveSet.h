#pragma once

#include "model/QXKeyPluginInstance.h"

#include <chrono>
#include <map>
#include <mutex>

// The host objects that plug-in instances may still call: one set each for views,
// actions and conditions, process-wide. A host object enters its set when it is first
// attached (before the factory runs) and is held there, whatever the layer model does
// with it, until the last plug-in instance made for it has reported InstanceDestroyed;
// one whose factory never produced an instance stays until program end.
//
// Members are keyed by the address of the complete host object, which is also what
// message 2037 carries, so a handler can check that a pointer it received is still a
// live view. Any thread; the lock is held only while one member is entered, found or
// removed, and no other lock is taken under it.
class QXPluginLiveSet {
public:
    using Object = QXPtr<QXKeyPluginInstance>;

    QXPluginLiveSet() = default;
    // Waits up to 1000 ms for the plug-in instances still alive to go, then lets go of
    // every member.
    ~QXPluginLiveSet();
    QXPluginLiveSet(const QXPluginLiveSet&) = delete;
    QXPluginLiveSet& operator=(const QXPluginLiveSet&) = delete;

    // Enters the object; no change when it is there.
    void insert(const void* key, const Object& object);
    // A plug-in instance was made for the object (entered again if an instance the
    // factory threw away meanwhile reported its end).
    void instanceCreated(const void* key, const Object& object);
    // One of the object's instances ended. When none is left the set lets go of the
    // object and returns its reference, which the caller drops after the lock is gone
    // (it may be the last one).
    Object instanceDestroyed(const void* key);

    // The member at that address, held; empty when there is none.
    Object find(const void* key) const;
    bool contains(const void* key) const;
    size_t size() const;
    // How many plug-in instances made for members have not reported their end.
    long liveInstances() const;
    // Waits until liveInstances() is 0; false when the time ran out first.
    bool waitForInstances(std::chrono::milliseconds timeout) const;

    static QXPluginLiveSet& views();
    static QXPluginLiveSet& actions();
    static QXPluginLiveSet& conditions();

private:
    struct Member {
        Object object;
        long instances = 0;
    };

    mutable std::mutex m_mutex;
    std::map<const void*, Member> m_members; // ordered by address
};
