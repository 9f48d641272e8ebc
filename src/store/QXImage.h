#pragma once

#include "store/QXPtr.h"

#include <FreeImagePlus.h>
#include <filesystem>
#include <span>
#include <string>

// A key picture (48 x 48 on the keyboard) or any other picture of the program, on
// FreeImage. A picture read from a profile starts with only its source path; pixels
// are decoded when the key is shown and released again when it is hidden, unless
// they were changed and still have to be written.
class QXImage : public fipImage, public QXTypes<QXImage> {
public:
    static constexpr unsigned kKeySize = 48;

    QXImage() = default;
    // Pixels, changed flag and source path are copied.
    QXImage(const QXImage& other);
    QXImage& operator=(const QXImage& other);
    // Pixels copied; not changed, no source path.
    explicit QXImage(const fipImage& pixels);

    // A picture known only by its file; nothing is read yet.
    static QXPtr<QXImage> fromFile(const std::filesystem::path& path);

    // Decodes the file into standard 8-bit colour (QXPictureColours::toStandard). The
    // source path is set first, also when decoding fails. Only PNG, BMP, JPEG, GIF, TIFF
    // and PSD are read, told apart by content; files larger than 64 MiB, pictures whose
    // header claims more than 20 million pixels and pictures whose decoding would need
    // more memory or time than QXPictureDecoder allows are refused, with a warning that
    // says why.
    bool loadFile(const std::filesystem::path& path);
    // Decodes the file named by the source path.
    bool loadSource() { return loadFile(m_sourcePath); }
    // loadSource for many pictures at once, decoded side by side: what showing a whole
    // layer needs. A picture that cannot be read is left unloaded, for loadSource to say
    // why when it is asked for on its own.
    static void loadSources(std::span<QXImage* const> images);
    // Encodes by the file name's extension and writes the file atomically (the old
    // file stays whole when writing fails). The source path is set to the file.
    bool saveFile(const std::filesystem::path& path);
    // Decodes a picture held in memory (a compiled-in resource), with the same checks.
    bool loadMemory(std::span<const unsigned char> bytes);
    // Whether loadFile would take the file; when not, why (for a message to the user).
    // Decodes it to find out; nothing is kept.
    static bool isAcceptedPicture(const std::filesystem::path& path, std::string* refusal);
    // Any picture made 24 bits per pixel the way the keyboard shows it: other image
    // types in standard 8-bit colour, transparent pixels over black (QXPictureColours).
    static bool to24Bits(fipImage& picture);
    // The picture encoded in the given format; empty on failure.
    std::string encode(FREE_IMAGE_FORMAT format) const;

    bool isLoaded() const { return isValid() != 0; }
    // Frees the pixels; the source path stays.
    void unload() { clear(); }

    // Brings a picture of any other size to 48 x 48 by scaling it.
    void ensureKeySize();

    // How many pictures were decoded in this process so far (files and memory).
    static unsigned long long decodeCount();

    const std::filesystem::path& sourcePath() const { return m_sourcePath; }
    void setSourcePath(std::filesystem::path path) { m_sourcePath = std::move(path); }
    bool changed() const { return m_changed; }
    void setChanged(bool changed) { m_changed = changed; }

private:
    bool decode(std::span<const unsigned char> bytes, std::string& refusal);

    std::filesystem::path m_sourcePath;
    bool m_changed = false;
};
