#include "editor/QXDesktopBrowser.h"

#include <gio/gio.h>

std::optional<std::string> QXDesktopBrowser::programPath() {
    std::optional<std::string> result;
    GAppInfo* info = g_app_info_get_default_for_uri_scheme("http");
    if (!info)
        return result;
    if (const char* executable = g_app_info_get_executable(info)) {
        if (gchar* found = g_find_program_in_path(executable)) {
            result = found;
            g_free(found);
        }
    }
    g_object_unref(info);
    return result;
}
