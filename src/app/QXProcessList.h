#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

// The processes of this machine as /proc shows them, named the way the applications list
// names programs: the lower-cased base name of the executable. Reads /proc on every call
// and keeps nothing; a process that ends while it is being read is left out. Safe on any
// thread.
class QXProcessList {
public:
    // Process id -> application name of every process that has one. Kernel threads
    // (neither an executable nor a command line) are left out.
    using Snapshot = std::map<long, std::u16string>;

    static Snapshot snapshot();

    // The process's executable: the target of /proc/<pid>/exe without a trailing
    // " (deleted)", or, when that cannot be read (another user's process), argv[0] from
    // its command line. Nothing when the process is gone or is a kernel thread.
    static std::optional<std::filesystem::path> executable(long pid);

    // The application name of the process; empty when it has none (see executable()).
    static std::u16string processName(long pid);

    // The lower-cased base name of a program file: "/usr/bin/Foo" -> "foo".
    static std::u16string applicationName(const std::filesystem::path& executable);

    // Lower-cases a name the way application names are compared.
    static std::u16string lowerCase(std::u16string_view name);
};
