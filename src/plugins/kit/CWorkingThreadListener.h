#pragma once

#include "utility/utility.h"

// A client of the utility library's shared working thread, as a base sub-object of the
// class T that owns it. tick stays for T (or a kit base) to implement; release, called once
// on the working thread after WorkingThreadFreeListener, deletes the owning T there.
template <typename T> class CWorkingThreadListener : public IWorkingThreadListener {
public:
    void release() override { delete static_cast<T*>(this); }

protected:
    CWorkingThreadListener() = default;
    ~CWorkingThreadListener() = default;
};
