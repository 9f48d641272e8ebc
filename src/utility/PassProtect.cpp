#include "utility/PassProtect.h"

#include "platform/QXFiles.h"
#include "platform/QXFolders.h"
#include "platform/QXText.h"
#include "utility/utility.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sodium.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

// A protected text is base64 (original alphabet, padded) of nonce || secretbox(UTF-8
// password) under a random key kept in the user's data folder. The key lives outside the
// profile, so a profile that is exported or copied elsewhere carries no usable password.

namespace {

constexpr size_t kKeyBytes = crypto_secretbox_KEYBYTES;
constexpr size_t kOverhead = crypto_secretbox_NONCEBYTES + crypto_secretbox_MACBYTES;
constexpr int kBase64 = sodium_base64_VARIANT_ORIGINAL;

struct Key {
    unsigned char bytes[kKeyBytes];
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() { sodium_memzero(bytes, sizeof bytes); }
};

template <typename String> void wipe(String& text) {
    sodium_memzero(text.data(), text.size() * sizeof(text[0]));
}

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

fs::path keyFile() {
    return QXFolders::dataFolder() / "key";
}

// A key file of any size other than the key's is an error, never replaced: replacing it
// would make every stored password unreadable for good.
bool readKey(const fs::path& path, Key& key) {
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              st.st_size == static_cast<off_t>(kKeyBytes) &&
              ::read(fd, key.bytes, kKeyBytes) == static_cast<ssize_t>(kKeyBytes);
    ::close(fd);
    return ok;
}

// The key is written in full under a temporary name (created exclusively, mode 0600) and
// then linked to its final name; link never replaces an existing file, so of two
// processes creating it at once one wins, and no reader ever sees a half-written key.
bool createKey(const fs::path& path) {
    // The key's folder is the user's alone: one made first by someone else is refused.
    if (!QXFolders::privateFolder(path.parent_path()))
        return false;
    std::string temporary = path.native() + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    Key key;
    randombytes_buf(key.bytes, kKeyBytes);
    bool ok =
        ::write(fd, key.bytes, kKeyBytes) == static_cast<ssize_t>(kKeyBytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && (::link(temporary.c_str(), path.c_str()) == 0 || errno == EEXIST);
    ::unlink(temporary.c_str());
    return ok;
}

bool loadKey(Key& key, bool createWhenMissing) {
    fs::path path = keyFile();
    if (readKey(path, key))
        return true;
    std::error_code ec;
    if (!createWhenMissing || fs::exists(fs::symlink_status(path, ec)))
        return false;
    return createKey(path) && readKey(path, key);
}

int writeOut(std::u16string_view text, char16_t* out, int capacity) {
    if (text.size() + 1 > static_cast<size_t>(capacity))
        return 0;
    std::copy(text.begin(), text.end(), out);
    out[text.size()] = 0;
    return 1;
}

} // namespace

namespace qxutility {

std::optional<std::string> unprotectPassword(std::u16string_view protectedText) {
    if (protectedText.empty())
        return std::string();
    if (!sodiumReady())
        return std::nullopt;
    std::string text;
    for (char16_t c : protectedText) {
        if (c >= 0x80)
            return std::nullopt;
        text.push_back(static_cast<char>(c));
    }
    std::vector<unsigned char> sealed(text.size() / 4 * 3 + 3);
    size_t sealedLength = 0;
    const char* end = nullptr;
    if (sodium_base642bin(sealed.data(), sealed.size(), text.data(), text.size(), nullptr,
                          &sealedLength, &end, kBase64) != 0 ||
        end != text.data() + text.size() || sealedLength < kOverhead)
        return std::nullopt;
    Key key;
    if (!loadKey(key, false))
        return std::nullopt;
    std::string plain(sealedLength - kOverhead, '\0');
    if (crypto_secretbox_open_easy(reinterpret_cast<unsigned char*>(plain.data()),
                                   sealed.data() + crypto_secretbox_NONCEBYTES,
                                   sealedLength - crypto_secretbox_NONCEBYTES, sealed.data(),
                                   key.bytes) != 0)
        return std::nullopt;
    return plain;
}

} // namespace qxutility

extern "C" {

// An empty password stays empty both ways: callers store "" for "no password" and need
// no key for it.
QX_UTILITY_API int PassProtect(const char16_t* plainText, char16_t* outBuffer, int outCapacity) {
    if (!outBuffer || outCapacity <= 0)
        return 0;
    outBuffer[0] = 0;
    if (!plainText)
        return 0;
    std::u16string_view input(plainText);
    if (input.empty())
        return 1;
    if (!sodiumReady())
        return 0;
    std::string plain = toUtf8(input);
    Key key;
    bool haveKey = loadKey(key, true);
    std::vector<unsigned char> sealed(kOverhead + plain.size());
    if (haveKey) {
        randombytes_buf(sealed.data(), crypto_secretbox_NONCEBYTES);
        crypto_secretbox_easy(sealed.data() + crypto_secretbox_NONCEBYTES,
                              reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
                              sealed.data(), key.bytes);
    }
    wipe(plain);
    if (!haveKey)
        return 0;
    std::string encoded(sodium_base64_ENCODED_LEN(sealed.size(), kBase64), '\0');
    sodium_bin2base64(encoded.data(), encoded.size(), sealed.data(), sealed.size(), kBase64);
    encoded.resize(encoded.find('\0'));
    return writeOut(std::u16string(encoded.begin(), encoded.end()), outBuffer, outCapacity);
}

QX_UTILITY_API int PassUnprotect(const char16_t* protectedText, char16_t* outBuffer,
                                 int outCapacity) {
    if (!outBuffer || outCapacity <= 0)
        return 0;
    outBuffer[0] = 0;
    if (!protectedText)
        return 0;
    std::optional<std::string> plain = qxutility::unprotectPassword(protectedText);
    if (!plain)
        return 0;
    std::u16string text = fromUtf8(*plain);
    int result = writeOut(text, outBuffer, outCapacity);
    wipe(*plain);
    wipe(text);
    return result;
}

} // extern "C"
