#include "store/QXXmlDocument.h"

#include "platform/QXFiles.h"

#include <mutex>

namespace {

constexpr size_t kMaxDocumentBytes = size_t(64) << 20;
constexpr int kMaxDepth = 512;

// The CR LF and lone CR line ends become LF, as TinyXML's own file loader does.
void normaliseLineEnds(std::string& text) {
    size_t out = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            text[out++] = '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            text[out++] = text[i];
        }
    }
    text.resize(out);
}

} // namespace

bool xmlNestingExceeds(const std::string& text, int maxDepth) {
    int depth = 0;
    size_t i = 0;
    const size_t n = text.size();
    auto skipPast = [&](const char* terminator) {
        size_t at = text.find(terminator, i);
        i = (at == std::string::npos) ? n : at + std::char_traits<char>::length(terminator);
    };
    while (i < n) {
        if (text[i] != '<') {
            ++i;
            continue;
        }
        if (text.compare(i, 4, "<!--") == 0) {
            skipPast("-->");
        } else if (text.compare(i, 9, "<![CDATA[") == 0) {
            skipPast("]]>");
        } else if (text.compare(i, 2, "<?") == 0) {
            skipPast("?>");
        } else if (text.compare(i, 2, "<!") == 0) {
            skipPast(">");
        } else if (text.compare(i, 2, "</") == 0) {
            --depth;
            skipPast(">");
        } else {
            // An opening tag: find its end, stepping over quoted attribute values.
            char quote = 0;
            size_t j = i + 1;
            for (; j < n; ++j) {
                char c = text[j];
                if (quote) {
                    if (c == quote)
                        quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            bool selfClosing = j < n && j > i + 1 && text[j - 1] == '/';
            if (!selfClosing && ++depth > maxDepth)
                return true;
            i = j + 1;
        }
    }
    return false;
}

void QXXmlDocument::configureTinyXml() {
    static std::once_flag once;
    std::call_once(once, [] { TiXmlBase::SetCondenseWhiteSpace(false); });
}

QXXmlDocument::QXXmlDocument(std::filesystem::path path)
    : TiXmlDocument(path.c_str()), m_path(std::move(path)) {}

bool QXXmlDocument::load() {
    auto text = readWholeFile(m_path, kMaxDocumentBytes);
    if (!text)
        return false;
    return parseText(std::move(*text));
}

bool QXXmlDocument::parseText(std::string text) {
    configureTinyXml();
    Clear();
    ClearError();
    normaliseLineEnds(text);
    if (text.empty() || text.size() > kMaxDocumentBytes || xmlNestingExceeds(text, kMaxDepth))
        return false;
    // TinyXML steps over a multi-byte character in one go, also when its lead byte is
    // the last one of the text, and then reads past the terminator; zeros behind the
    // terminator stop it there.
    text.append(8, '\0');
    Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    return !Error();
}

std::string QXXmlDocument::print() const {
    TiXmlPrinter printer;
    Accept(&printer);
    return printer.Str();
}

bool QXXmlDocument::save() const {
    return writeFileAtomically(m_path, print());
}
