#pragma once

#include "pop3/CPOP3Exception.h"

#include <gtest/gtest.h>

// Runs `call` and returns the CPOP3Exception it threw; fails the test when it threw none.
template <typename Call> CPOP3Exception thrownBy(Call call) {
    try {
        call();
    } catch (const CPOP3Exception& e) {
        return e;
    }
    ADD_FAILURE() << "no CPOP3Exception was thrown";
    return CPOP3Exception(0, 0);
}
