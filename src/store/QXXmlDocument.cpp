#include "store/QXXmlDocument.h"

#include "platform/QXFiles.h"

#include <cctype>
#include <cstring>
#include <mutex>
#include <string_view>

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

namespace {

// The text is well-formed UTF-8. TinyXML steps over a multi-byte character in one go;
// in well-formed UTF-8 the bytes it steps over are never '<', '>', '/', quotes or
// white space, so scanning byte by byte below sees the same delimiters it does.
bool isWellFormedUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        size_t length = c < 0x80 ? 1 : c < 0xC2 ? 0 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF5 ? 4 : 0;
        if (length == 0 || i + length > n)
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// Walks the text the way TinyXML's parser does (which elements it opens, where text,
// comments, CDATA sections, declarations and unknown tags end) and tracks how deeply
// it would recurse. Wherever TinyXML would stop with an error, the walk refuses the text
// too, so it never stops earlier than TinyXML and so never sees less depth than the
// parser would reach. Unquoted attribute values, which TinyXML reads by rules of its own,
// are refused as well: nothing the program reads uses them.
class TinyXmlDepthWalk {
public:
    // TinyXML reads the text as a C string: it ends at the first NUL.
    TinyXmlDepthWalk(const std::string& text, int maxDepth)
        : m_p(text.c_str()), m_end(m_p + std::strlen(m_p)), m_maxDepth(maxDepth) {}

    // False when the text nests deeper than maxDepth or cannot be vouched for.
    bool run() {
        // The document: a sequence of nodes; anything but '<' ends it.
        for (;;) {
            skipWhiteSpace();
            if (*m_p != '<')
                return true;
            if (!node())
                return false;
        }
    }

private:
    static bool isWhiteSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
    static bool isAlpha(char c) {
        auto u = static_cast<unsigned char>(c);
        return u >= 127 || std::isalpha(u);
    }
    static bool isNameChar(char c) {
        auto u = static_cast<unsigned char>(c);
        return u >= 127 || std::isalnum(u) || c == '_' || c == '-' || c == '.' || c == ':';
    }
    bool startsWith(const char* tag, bool ignoreCase = false) const {
        const char* p = m_p;
        for (; *tag; ++tag, ++p) {
            if (!*p)
                return false;
            char a = *p, b = *tag;
            if (ignoreCase) {
                a = static_cast<char>(std::tolower(static_cast<unsigned char>(a)));
                b = static_cast<char>(std::tolower(static_cast<unsigned char>(b)));
            }
            if (a != b)
                return false;
        }
        return true;
    }
    // White space, and the byte-order marks TinyXML also steps over in UTF-8 text.
    void skipWhiteSpace() {
        for (;;) {
            auto u = [&](int k) { return static_cast<unsigned char>(m_p[k]); };
            if (u(0) == 0xEF && ((u(1) == 0xBB && u(2) == 0xBF) ||
                                 (u(1) == 0xBF && (u(2) == 0xBE || u(2) == 0xBF)))) {
                m_p += 3;
            } else if (*m_p && isWhiteSpace(*m_p)) {
                ++m_p;
            } else {
                return;
            }
        }
    }
    // Moves past the terminator; false when the text ends first.
    // Searches stay within the text once each (no C string search scanning the rest of
    // the text again at every step).
    const char* find(std::string_view what) const {
        size_t at = std::string_view(m_p, size_t(m_end - m_p)).find(what);
        return at == std::string_view::npos ? nullptr : m_p + at;
    }
    bool skipPast(std::string_view terminator) {
        const char* at = find(terminator);
        if (!at)
            return false;
        m_p = at + terminator.size();
        return true;
    }
    bool readName() {
        if (!isAlpha(*m_p) && *m_p != '_')
            return false;
        while (*m_p && isNameChar(*m_p))
            ++m_p;
        return true;
    }
    // name = "value" or name = 'value'.
    bool attribute() {
        if (!readName())
            return false;
        skipWhiteSpace();
        if (*m_p != '=')
            return false;
        ++m_p;
        skipWhiteSpace();
        if (*m_p != '"' && *m_p != '\'')
            return false;
        const char quote = *m_p++;
        return text(quote) && *m_p++ == quote && *m_p;
    }

    // Character data up to the terminator (not consumed), stepping over character
    // references as TinyXML does: it takes "&#x...;" and "&#...;" from the '&' to the
    // next ';' and checks only the digits after the last 'x' or '#' before it, so a
    // reference can swallow markup. False when TinyXML would fail first.
    bool text(char terminator) {
        while (*m_p && *m_p != terminator) {
            if (m_p[0] == '&' && m_p[1] == '#' && m_p[2]) {
                const bool hex = m_p[2] == 'x';
                if (hex && !m_p[3])
                    return false;
                const char* end = static_cast<const char*>(
                    std::memchr(m_p + (hex ? 3 : 2), ';', size_t(m_end - m_p) - (hex ? 3 : 2)));
                if (!end)
                    return false;
                for (const char* q = end - 1; *q != (hex ? 'x' : '#'); --q)
                    if (!(hex ? std::isxdigit(static_cast<unsigned char>(*q)) : std::isdigit(static_cast<unsigned char>(*q))))
                        return false;
                m_p = end + 1;
            } else {
                ++m_p;
            }
        }
        return *m_p == terminator;
    }

    // One node at '<', as TinyXML tells them apart.
    bool node() {
        if (startsWith("<?xml", true))
            return declaration();
        if (startsWith("<!--")) {
            m_p += 4;
            return skipPast("-->") || (m_p = m_end, true);
        }
        if (startsWith("<![CDATA[")) {
            m_p += 9;
            return skipPast("]]>") && *m_p;
        }
        if (isAlpha(m_p[1]) || m_p[1] == '_')
            return element();
        // Anything else is an unknown tag, read to the first '>'.
        ++m_p;
        if (!skipPast(">"))
            m_p = m_end;
        return true;
    }

    bool declaration() {
        m_p += 5;
        while (*m_p) {
            if (*m_p == '>') {
                ++m_p;
                return true;
            }
            skipWhiteSpace();
            if (startsWith("version", true) || startsWith("encoding", true) ||
                startsWith("standalone", true)) {
                if (!attribute())
                    return false;
            } else {
                while (*m_p && *m_p != '>' && !isWhiteSpace(*m_p))
                    ++m_p;
            }
        }
        return false;
    }

    bool element() {
        ++m_p;
        const char* name = m_p;
        if (!readName())
            return false;
        const std::string endTag = "</" + std::string(name, m_p);
        for (;;) {
            skipWhiteSpace();
            if (!*m_p)
                return false;
            if (*m_p == '/')
                return m_p[1] == '>' ? (m_p += 2, true) : false;
            if (*m_p == '>')
                break;
            if (!attribute())
                return false;
        }
        ++m_p;
        // TinyXML reads the content one call deeper.
        if (++m_depth > m_maxDepth)
            return false;
        for (;;) {
            skipWhiteSpace();
            if (!*m_p)
                return false;
            if (*m_p != '<') {
                if (!text('<'))
                    return false;
                continue;
            }
            if (startsWith("</"))
                break;
            if (!node())
                return false;
        }
        if (!startsWith(endTag.c_str()))
            return false;
        m_p += endTag.size();
        skipWhiteSpace();
        if (*m_p != '>')
            return false;
        ++m_p;
        --m_depth;
        return true;
    }

    const char* m_p;
    const char* m_end;
    int m_maxDepth;
    int m_depth = 0;
};

} // namespace

bool xmlNestingExceeds(const std::string& text, int maxDepth) {
    if (!isWellFormedUtf8(text))
        return true;
    return !TinyXmlDepthWalk(text, maxDepth).run();
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
