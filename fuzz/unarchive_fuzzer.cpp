// Feeds arbitrary bytes to the archive reader as a ".layers" file. Nothing may land
// outside the destination folder.
#include "utility/utility.h"

#include "platform/QXFiles.h"
#include "platform/QXText.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Scratch {
    Scratch() {
        std::string pattern = (fs::temp_directory_path() / "qxfuzz-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        root = pattern;
        fs::create_directories(root / "jail" / "dest");
    }
    ~Scratch() { removeTree(root); }
    fs::path root;
};

size_t entriesUnder(const fs::path& folder) {
    size_t count = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        ++count;
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    const fs::path archive = scratch.root / "input.layers";
    const fs::path jail = scratch.root / "jail";
    const fs::path dest = jail / "dest";
    writeFileAtomically(archive, std::string(reinterpret_cast<const char*>(data), size));
    ZippingUnarchiveFolder(fromPath(archive).c_str(), fromPath(dest).c_str());
    // Everything written must be inside dest; the jail holds nothing else.
    size_t inJail = entriesUnder(jail);
    size_t inDest = entriesUnder(dest);
    if (inJail != inDest + 1) {
        std::fprintf(stderr, "the archive wrote outside its destination\n");
        std::abort();
    }
    for (auto it = fs::recursive_directory_iterator(dest); it != fs::recursive_directory_iterator();
         ++it)
        if (it->is_symlink()) {
            std::fprintf(stderr, "the archive created a link\n");
            std::abort();
        }
    removeTree(dest);
    fs::create_directories(dest);
    return 0;
}
