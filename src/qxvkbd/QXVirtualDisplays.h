#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

// What the virtual keyboard shows: each display's picture as the program last wrote it to
// "vTessera/dynamic/NNN.sys", the enable table of "layout.sys" and the brightness of the
// last brightness command in "order.sys", drawn onto the keyboard template. Plain C++ on
// the GUI thread; nothing here watches the disk, the owner says what changed.
//
// How malformed content is taken (the program always writes whole sectors, so files are
// usually longer than their content; only the leading bytes count):
// - a display file shorter than one picture, missing, or not a regular file: dark;
// - "layout.sys": byte n - 1 is display n; 0 is dark, anything else shows; displays past
//   the end of a short (or missing) table show;
// - "order.sys": "b" and three digits sets the brightness (above 100 counts as 100, a
//   trailing "A" for automatic brightness is taken as the same level); anything else,
//   the sleep command included, leaves the brightness as it was. Full brightness until
//   the first brightness command.
class QXVirtualDisplays {
public:
    static constexpr int kWidth = 1312; // the keyboard template
    static constexpr int kHeight = 376;
    static constexpr int kDisplayCount = 114;

    // tessera: the keyboard disk's "vTessera" folder.
    explicit QXVirtualDisplays(std::filesystem::path tessera);

    // Reads the compiled-in keyboard template; false (a grey background instead) when it
    // cannot be read.
    bool loadTemplate();

    void reloadDisplay(int displayNumber); // 1 to 114; others are ignored
    void reloadAllDisplays();
    void reloadEnableTable();
    void reloadCommand();

    unsigned brightness() const { return m_brightness; }
    bool enabled(int displayNumber) const;

    // The keyboard as it looks now: kWidth x kHeight pixels, rows from the top, three bytes
    // (R, G, B) per pixel.
    std::vector<uint8_t> compose() const;

    // Where a key is on the picture: its outline (right and bottom exclusive), and the key
    // whose outline holds a point.
    struct Area {
        int left, top, right, bottom;
    };
    static Area keyArea(size_t key);
    static std::optional<size_t> keyAt(int x, int y);

    // Reads at most maxBytes from the start of a regular file without blocking on special
    // files; nullopt when it is missing or not a regular file.
    static std::optional<std::vector<uint8_t>> readPrefix(const std::filesystem::path& path,
                                                          size_t maxBytes);

private:
    // A decoded display: 48 x 48 pixels, rows from the top, R, G, B.
    using Picture = std::array<uint8_t, 48 * 48 * 3>;

    std::filesystem::path m_tessera;
    std::vector<uint8_t> m_template;
    std::array<std::optional<Picture>, kDisplayCount + 1> m_displays; // by display number
    std::bitset<kDisplayCount + 1> m_dark;                            // by display number
    unsigned m_brightness = 100;
};
