#include "CGmailFeedReader.h"

#include <limits>
#include <pcrecpp.h>
#include <string>

namespace {

// DOTALL: entries span lines; EXTRA: an unknown escape is an error, not a letter.
pcrecpp::RE_Options feedOptions() {
    return pcrecpp::RE_Options().set_dotall(true).set_extra(true);
}

} // namespace

bool CGmailFeedReader::readCount(const char* body, size_t length) {
    static const pcrecpp::RE fullcount("<fullcount>(\\d*)</fullcount>", feedOptions());
    std::string digits;
    if (!fullcount.PartialMatch(pcrecpp::StringPiece(body, static_cast<int>(length)), &digits))
        return false;
    // A count needs at most 10 digits; anything longer is a count beyond showing.
    constexpr int64_t kLargest = std::numeric_limits<int32_t>::max();
    if (digits.size() > 10) {
        m_count = static_cast<int32_t>(kLargest);
        return true;
    }
    int64_t value = digits.empty() ? 0 : std::stoll(digits);
    m_count = static_cast<int32_t>(value > kLargest ? kLargest : value);
    return true;
}

void CGmailFeedReader::readLink(const char* body, size_t length) {
    static const pcrecpp::RE entryLink("<entry.*?<link rel=\"alternate\" href=\"(.*?)\"",
                                       feedOptions());
    std::string href;
    if (!entryLink.PartialMatch(pcrecpp::StringPiece(body, static_cast<int>(length)), &href)) {
        m_link.clear();
        return;
    }
    pcrecpp::RE("&amp;").GlobalReplace("&", &href);
    // Feed addresses are ASCII (URL-escaped); any other byte is taken as UTF-8.
    m_link = QString::fromUtf8(href);
}
