#pragma once

#include <cstddef>
#include <filesystem>

// What a killed or crashed run leaves behind, cleared at the next start. Call it only
// while holding the single-instance lock: a running copy's temporary folder is its own.
namespace QXStartupSweep {

// Whether a file name is one the atomic writer gives its temporary file: the target's
// name, ".tmp", then the six letters or digits mkstemp puts in.
bool isAtomicWriterLeftover(const std::filesystem::path& name);

// Removes, below the profile folder, the atomic writer's temporary files (regular files
// only: a link or a folder of that name stays), and in the temporary folder the unpack
// and scratch folders of imports and exports (named by a GUID in braces). Links are
// never followed. Either folder may be empty (skipped). Returns how much was removed.
size_t run(const std::filesystem::path& profile, const std::filesystem::path& temporary);

} // namespace QXStartupSweep
