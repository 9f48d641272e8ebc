#include "store/QXImage.h"

#include "platform/QXFiles.h"
#include "platform/QXLog.h"
#include "store/QXPictureColours.h"
#include "store/QXPictureDecoder.h"

#include <atomic>
#include <optional>
#include <vector>

namespace {

constexpr size_t kMaxFileBytes = size_t(64) << 20;

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

namespace {

// Reads and decodes a file; the reason when it cannot.
bool decodeFile(const std::filesystem::path& path, fipImage& picture, std::string& refusal) {
    auto bytes = readWholeFile(path, kMaxFileBytes);
    if (!bytes) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        refusal = !ec && size > kMaxFileBytes ? "the file is larger than 64 MiB"
                                              : "the file cannot be read";
        return false;
    }
    return QXPictureDecoder::decode(
        {reinterpret_cast<const unsigned char*>(bytes->data()), bytes->size()}, picture,
        refusal);
}

} // namespace

bool QXImage::loadFile(const std::filesystem::path& path) {
    m_sourcePath = path;
    std::string refusal;
    if (!decodeFile(path, *this, refusal)) {
        QXLog::warning(QXLog::kStore, "picture " + path.string() + " not read: " + refusal);
        return false;
    }
    ++g_decodes;
    return true;
}

void QXImage::loadSources(std::span<QXImage* const> images) {
    // Files are read a few megabytes at a time, however large the pictures are.
    constexpr size_t kBatchBytes = size_t(8) << 20;
    std::vector<std::string> files;
    std::vector<QXImage*> owners;
    size_t batchBytes = 0;
    auto decodeBatch = [&] {
        std::vector<QXPictureDecoder::Job> jobs;
        for (size_t i = 0; i < files.size(); ++i)
            jobs.push_back({{reinterpret_cast<const unsigned char*>(files[i].data()), files[i].size()}, owners[i], {}});
        QXPictureDecoder::decodeMany(jobs);
        for (const QXPictureDecoder::Job& job : jobs)
            if (job.refusal.empty())
                ++g_decodes;
        files.clear();
        owners.clear();
        batchBytes = 0;
    };
    for (QXImage* image : images) {
        std::optional<std::string> bytes = readWholeFile(image->m_sourcePath, kMaxFileBytes);
        if (!bytes)
            continue;
        batchBytes += bytes->size();
        files.push_back(std::move(*bytes));
        owners.push_back(image);
        if (batchBytes >= kBatchBytes)
            decodeBatch();
    }
    if (!files.empty())
        decodeBatch();
}

bool QXImage::loadMemory(std::span<const unsigned char> bytes) {
    std::string refusal;
    if (!QXPictureDecoder::decode(bytes, *this, refusal)) {
        QXLog::warning(QXLog::kStore, "a compiled-in picture not read: " + refusal);
        return false;
    }
    ++g_decodes;
    return true;
}

bool QXImage::isAcceptedPicture(const std::filesystem::path& path, std::string* refusal) {
    fipImage picture;
    std::string reason;
    const bool accepted = decodeFile(path, picture, reason);
    if (refusal)
        *refusal = reason;
    return accepted;
}

bool QXImage::to24Bits(fipImage& picture) {
    return QXPictureColours::to24Bits(picture);
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
    // Over black first: scaling mixes neighbouring pixels, and the colours stored under
    // transparent ones must not bleed into the edges.
    to24Bits(*this);
    if (!rescale(kKeySize, kKeySize, FILTER_BILINEAR)) {
        unsigned bpp = getBitsPerPixel();
        setSize(getImageType(), kKeySize, kKeySize, bpp ? bpp : 24);
    }
}
