#pragma once

#include "pluginhost/QXPluginInterfaces.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>

namespace functionstest {

// The built Functions plug-in from the program folder, loaded once and kept, as the program
// keeps its plug-in libraries; the tests use it through its exports only.
inline void* library() {
    static void* handle = [] {
        std::string path = std::string(QX_PROGRAM_DIR) + "/Plugins/Functions/Functions.so";
        void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(h, nullptr) << dlerror();
        return h;
    }();
    return handle;
}

inline QXCreateViewFunction createView() {
    return reinterpret_cast<QXCreateViewFunction>(dlsym(library(), "createView"));
}
inline QXCreateActionFunction createAction() {
    return reinterpret_cast<QXCreateActionFunction>(dlsym(library(), "createAction"));
}

} // namespace functionstest
