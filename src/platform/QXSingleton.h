#pragma once

// The program's one-per-process objects: created on the first call of instance(),
// destroyed at exit in reverse order of creation.
template <class T> class singleton {
public:
    static T& instance() {
        static T object;
        return object;
    }

protected:
    singleton() = default;
    ~singleton() = default;
};
