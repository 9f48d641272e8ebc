#include "pluginhost/QXPluginLiveSet.h"

#include <thread>

QXPluginLiveSet::~QXPluginLiveSet() {
    // Instances released through a plug-in's worker end there, a little later. Members
    // whose factory never made an instance have nothing to wait for, so the wait only
    // counts instances, not members.
    waitForInstances(std::chrono::milliseconds(1000));
    std::map<const void*, Member> left;
    {
        std::lock_guard lock(m_mutex);
        left.swap(m_members);
    }
    // Host objects go here, outside the lock.
}

void QXPluginLiveSet::insert(const void* key, const Object& object) {
    std::lock_guard lock(m_mutex);
    m_members.try_emplace(key, Member{object, 0});
}

void QXPluginLiveSet::instanceCreated(const void* key, const Object& object) {
    std::lock_guard lock(m_mutex);
    auto it = m_members.try_emplace(key, Member{object, 0}).first;
    ++it->second.instances;
}

QXPluginLiveSet::Object QXPluginLiveSet::instanceDestroyed(const void* key) {
    Object released;
    std::lock_guard lock(m_mutex);
    auto it = m_members.find(key);
    if (it == m_members.end())
        return released;
    if (it->second.instances > 0)
        --it->second.instances;
    if (it->second.instances == 0) {
        released = std::move(it->second.object);
        m_members.erase(it);
    }
    return released;
}

QXPluginLiveSet::Object QXPluginLiveSet::find(const void* key) const {
    std::lock_guard lock(m_mutex);
    auto it = m_members.find(key);
    return it == m_members.end() ? Object() : it->second.object;
}

bool QXPluginLiveSet::contains(const void* key) const {
    std::lock_guard lock(m_mutex);
    return m_members.count(key) != 0;
}

size_t QXPluginLiveSet::size() const {
    std::lock_guard lock(m_mutex);
    return m_members.size();
}

long QXPluginLiveSet::liveInstances() const {
    std::lock_guard lock(m_mutex);
    long count = 0;
    for (const auto& [key, member] : m_members)
        count += member.instances;
    return count;
}

bool QXPluginLiveSet::waitForInstances(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (liveInstances() > 0) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

QXPluginLiveSet& QXPluginLiveSet::views() {
    static QXPluginLiveSet set;
    return set;
}

QXPluginLiveSet& QXPluginLiveSet::actions() {
    static QXPluginLiveSet set;
    return set;
}

QXPluginLiveSet& QXPluginLiveSet::conditions() {
    static QXPluginLiveSet set;
    return set;
}
