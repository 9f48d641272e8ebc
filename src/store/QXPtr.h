#pragma once

#include <atomic>
#include <cstddef>
#include <utility>

// The program's reference-counted pointer, used for property nodes, images, layer
// items, conditions and plug-in instances. It holds two words: a separately allocated
// counter and the object. The last release destroys the object (through a pointer to
// T, so a pointer to a base needs the base's destructor to be virtual) and frees the
// counter. An empty QXPtr has both words null. The counter is atomic, so copies may
// be made and dropped on different threads; the pointer object itself is not.
template <class T> class QXPtr {
public:
    QXPtr() noexcept = default;
    QXPtr(std::nullptr_t) noexcept {}

    // Takes ownership of a new object.
    explicit QXPtr(T* object) : m_count(object ? new std::atomic<long>(1) : nullptr), m_object(object) {}

    QXPtr(const QXPtr& other) noexcept : m_count(other.m_count), m_object(other.m_object) { retain(); }
    QXPtr(QXPtr&& other) noexcept : m_count(other.m_count), m_object(other.m_object) {
        other.m_count = nullptr;
        other.m_object = nullptr;
    }

    // Conversion from a pointer to a derived class; both share the counter.
    template <class U>
    QXPtr(const QXPtr<U>& other) noexcept : m_count(other.m_count), m_object(other.m_object) {
        retain();
    }

    ~QXPtr() { release(); }

    QXPtr& operator=(QXPtr other) noexcept {
        swap(other);
        return *this;
    }

    void swap(QXPtr& other) noexcept {
        std::swap(m_count, other.m_count);
        std::swap(m_object, other.m_object);
    }

    void reset() noexcept {
        release();
        m_count = nullptr;
        m_object = nullptr;
    }

    T* get() const noexcept { return m_object; }
    T* operator->() const noexcept { return m_object; }
    T& operator*() const noexcept { return *m_object; }

    // Usable only when both the counter and the object are there.
    explicit operator bool() const noexcept { return m_count && m_object; }

    long useCount() const noexcept { return m_count ? m_count->load() : 0; }

    // A pointer to the same object as U, sharing the counter; empty when the object
    // is not a U.
    template <class U> QXPtr<U> dynamicCast() const noexcept {
        QXPtr<U> result;
        if (U* p = dynamic_cast<U*>(m_object)) {
            result.m_count = m_count;
            result.m_object = p;
            result.retain();
        }
        return result;
    }

    template <class U> QXPtr<U> staticCast() const noexcept {
        QXPtr<U> result;
        result.m_count = m_count;
        result.m_object = static_cast<U*>(m_object);
        result.retain();
        return result;
    }

    template <class U> bool operator==(const QXPtr<U>& other) const noexcept {
        return m_object == other.get();
    }
    bool operator==(std::nullptr_t) const noexcept { return m_object == nullptr; }

private:
    template <class U> friend class QXPtr;

    void retain() noexcept {
        if (m_count)
            m_count->fetch_add(1, std::memory_order_relaxed);
    }
    void release() noexcept {
        if (m_count && m_count->fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete m_object;
            delete m_count;
        }
    }

    std::atomic<long>* m_count = nullptr;
    T* m_object = nullptr;
};

template <class T, class... Args> QXPtr<T> makeQX(Args&&... args) {
    return QXPtr<T>(new T(std::forward<Args>(args)...));
}

// Shared type names of a class: QXLayer::Ptr is QXPtr<QXLayer>.
template <class T> struct QXTypes {
    using Ptr = QXPtr<T>;
};
