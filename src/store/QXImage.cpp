#include "store/QXImage.h"

#include "platform/QXFiles.h"

#include <atomic>

namespace {

constexpr size_t kMaxFileBytes = size_t(64) << 20;
constexpr unsigned long long kMaxPixels = 20'000'000ULL;

std::atomic<unsigned long long> g_decodes{0};

} // namespace

QXImage::QXImage(const QXImage& other)
    : fipImage(other), m_sourcePath(other.m_sourcePath), m_changed(other.m_changed) {}

QXImage& QXImage::operator=(const QXImage& other) {
    if (this != &other) {
        fipImage::operator=(other);
        m_sourcePath = other.m_sourcePath;
        m_changed = other.m_changed;
    }
    return *this;
}

QXImage::QXImage(const fipImage& pixels) : fipImage(pixels) {}

QXPtr<QXImage> QXImage::fromFile(const std::filesystem::path& path) {
    auto image = makeQX<QXImage>();
    image->m_sourcePath = path;
    return image;
}

bool QXImage::loadFile(const std::filesystem::path& path) {
    m_sourcePath = path;
    clear();
    auto bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes)
        return false;
    return decode({reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size()},
                  FreeImage_GetFIFFromFilename(path.c_str()));
}

bool QXImage::loadMemory(std::span<const unsigned char> bytes) {
    clear();
    return decode(bytes, FIF_UNKNOWN);
}

bool QXImage::decode(std::span<const unsigned char> bytes, FREE_IMAGE_FORMAT hint) {
    if (bytes.empty() || bytes.size() > kMaxFileBytes)
        return false;
    // FreeImage reads from the buffer only; the cast drops a const it never uses.
    fipMemoryIO memory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    FREE_IMAGE_FORMAT format = memory.getFileType();
    if (format == FIF_UNKNOWN)
        format = hint;
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format))
        return false;
    // Look at the header first, so a hostile file cannot make us allocate gigabytes.
    if (FreeImage_FIFSupportsNoPixels(format)) {
        fipImage header;
        memory.seek(0, SEEK_SET);
        if (!header.loadFromMemory(format, memory, FIF_LOAD_NOPIXELS))
            return false;
        if (static_cast<unsigned long long>(header.getWidth()) * header.getHeight() > kMaxPixels)
            return false;
    }
    memory.seek(0, SEEK_SET);
    if (!loadFromMemory(format, memory))
        return false;
    if (static_cast<unsigned long long>(getWidth()) * getHeight() > kMaxPixels ||
        getWidth() == 0 || getHeight() == 0) {
        clear();
        return false;
    }
    ++g_decodes;
    return true;
}

unsigned long long QXImage::decodeCount() {
    return g_decodes.load();
}

std::string QXImage::encode(FREE_IMAGE_FORMAT format) const {
    if (!isValid() || format == FIF_UNKNOWN)
        return {};
    fipMemoryIO memory;
    // saveToMemory is not const in FreeImagePlus although it only reads the pixels.
    if (!const_cast<QXImage*>(this)->saveToMemory(format, memory))
        return {};
    BYTE* data = nullptr;
    DWORD size = 0;
    if (!memory.acquire(&data, &size) || !data)
        return {};
    return std::string(reinterpret_cast<const char*>(data), size);
}

bool QXImage::saveFile(const std::filesystem::path& path) {
    m_sourcePath = path;
    std::string bytes = encode(FreeImage_GetFIFFromFilename(path.c_str()));
    return !bytes.empty() && writeFileAtomically(path, bytes);
}

void QXImage::ensureKeySize() {
    if (!isValid() || (getWidth() == kKeySize && getHeight() == kKeySize))
        return;
    if (!rescale(kKeySize, kKeySize, FILTER_BILINEAR)) {
        unsigned bpp = getBitsPerPixel();
        setSize(getImageType(), kKeySize, kKeySize, bpp ? bpp : 24);
    }
}
