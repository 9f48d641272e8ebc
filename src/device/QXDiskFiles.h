#pragma once

#include "device/QXDisplayImage.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The files the keyboard reads from its own disk, and the buffered writer that keeps them
// up to date. Every file is written whole, from offset 0, in whole sectors, with
// sector-aligned buffers and unbuffered, synchronous access, so the keyboard's firmware
// only ever sees complete files. Content is staged into a front buffer and compared with
// what was last written (or staged), so unchanged content is never written again.
//
// Staging happens on the GUI thread, writing on the device thread; a lock per record
// covers the buffer swap and the dirty flag, never the disk write.
class QXDiskFiles {
public:
    // Records, in the order the write pass visits them.
    static constexpr int kDisplays = 114; // records 0-113: "vTessera/dynamic/001.sys"...
    static constexpr int kCodeTable = 114;
    static constexpr int kCommand = 115;
    static constexpr int kEnableTable = 116;
    static constexpr int kFirmware = 117;
    static constexpr int kRecords = 118;

    static constexpr size_t kCodeTableBytes = 9216; // 144 entries of 64 bytes
    static constexpr size_t kEntryBytes = 64;
    static constexpr size_t kEnableTableBytes = 114;
    static constexpr size_t kFirmwareBytes = 655360;
    static constexpr size_t kVersionBytes = 27;

    using CodeTable = std::array<uint8_t, kCodeTableBytes>;

    QXDiskFiles();
    ~QXDiskFiles();
    QXDiskFiles(const QXDiskFiles&) = delete;
    QXDiskFiles& operator=(const QXDiskFiles&) = delete;

    // Builds the records for a keyboard whose disk is mounted at root with the given
    // sector size, reads "version.sys" and sets up the code table. False (and nothing
    // prepared) when the sector size is 0 or the version is empty.
    bool prepare(const std::filesystem::path& root, size_t sectorSize);
    // Closes every file and frees every buffer.
    void release();
    bool prepared() const { return !m_records.empty(); }

    const std::u16string& version() const { return m_version; }
    // Below "TesseraV0.76b": the keyboard needs a pause after each code-table write.
    bool oldFirmware() const { return m_oldFirmware; }
    // The keyboard's own code table as read at connection; only from "TesseraV0.62b" on.
    bool hasOwnCodeTable() const { return m_hasOwnTable; }
    const CodeTable& ownCodeTable() const { return m_ownTable; }
    CodeTable& workingCodeTable() { return m_working; }

    // Staging. Each returns true when the content changed, which is when the caller
    // should signal the device thread's write event.
    bool stageImage(size_t keyIndex, const QXBitmapView& bitmap);
    bool stageCodeTable(); // the working table
    bool stageCodeTable(const CodeTable& table);
    bool stageCommand(std::string_view text);
    bool stageBrightness(unsigned level, bool automatic); // "b%03dA" / "b%03d", at most 100
    bool stageSleepDelay(unsigned seconds);               // "s%04d", at most 9999
    bool stageEnableTable(bool enabled);
    // Refused (false, nothing staged) unless exactly 655360 bytes.
    bool stageFirmware(std::span<const uint8_t> image);

    // Entries of a code table (slot is the key's 1-based code slot).
    static void setPlainEntry(CodeTable& table, size_t keyIndex, uint8_t code);
    static void setSilentEntry(CodeTable& table, size_t keyIndex);
    static void setSignallingEntry(CodeTable& table, size_t keyIndex);
    // The codes a signalling entry types: the prefix, then two base-11 digits.
    static constexpr uint8_t kSignalPrefix = 0x7A;
    static constexpr std::array<uint8_t, 11> kSignalDigits = {0x7E, 0x7F, 0x81, 0x83, 0x86, 0x87,
                                                              0x88, 0x89, 0x8A, 0x8B, 0x8C};

    // Device thread: writes every dirty record. A record whose file cannot be opened
    // stays dirty; a failed write is dropped until new content is staged.
    void writePass();

    // How the writer pauses after a code-table write on old firmware (tests replace it).
    void setPause(std::function<void(int milliseconds)> pause) { m_pause = std::move(pause); }

    // How many bytes the write passes have written since prepare (a write under way
    // already counts).
    uint64_t bytesWritten() const { return m_bytesWritten; }

    // The same formats written to a folder with ordinary files: "Tessera/normal/NNN.sys",
    // "Tessera/shift/NNN.sys" and "Tessera/scancode.sys". Images of keys without a
    // picture are not written. False when a file could not be written.
    static bool dumpToFolder(const std::filesystem::path& folder,
                             const std::vector<QXBitmapView>& normal,
                             const std::vector<QXBitmapView>& shift, const CodeTable& codes);

private:
    struct Record;

    bool stage(int record, const uint8_t* bytes, size_t size);
    bool readVersion();
    void initCodeTable();

    std::filesystem::path m_root;
    size_t m_sectorSize = 0;
    std::vector<std::unique_ptr<Record>> m_records;
    void* m_block = nullptr; // the shared aligned block of every record but the firmware
    std::u16string m_version;
    bool m_oldFirmware = false;
    bool m_hasOwnTable = false;
    CodeTable m_ownTable{};
    CodeTable m_working{};
    std::function<void(int)> m_pause;
    std::atomic<uint64_t> m_bytesWritten{0};
};
