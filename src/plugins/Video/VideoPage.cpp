#include "VideoPage.h"

#include <pcrecpp.h>

namespace VideoPage {

bool isPageContentType(std::string_view contentType) {
    std::string_view type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t'))
        type.remove_suffix(1);
    while (!type.empty() && (type.front() == ' ' || type.front() == '\t'))
        type.remove_prefix(1);
    return std::string_view("text/htmlvideo/x-ms-asf").find(type) != std::string_view::npos;
}

std::string findStreamAddress(std::string_view page) {
    const pcrecpp::RE_Options caseless = pcrecpp::RE_Options().set_caseless(true);
    const pcrecpp::StringPiece text(page.data(), static_cast<int>(page.size()));

    static const pcrecpp::RE embed(
        "<embed([^>]+type\\s*=\\s*['\"]?application/x-mplayer2['\"]?[^>]*)>", caseless);
    static const pcrecpp::RE source("[\\s]*src[\\s]*=[\\s]*(['\"]([^'\"]+)['\"]|([^>\\s]+))",
                                    caseless);
    std::string attributes;
    if (embed.PartialMatch(text, &attributes)) {
        std::string whole, quoted, unquoted;
        if (source.PartialMatch(attributes, &whole, &quoted, &unquoted))
            return quoted.empty() ? unquoted : quoted;
        return {};
    }

    static const pcrecpp::RE mmsReference("<ref[^>]+href\\s*=\\s*['\"](mms://[^'\"]+)['\"][^>]*/>",
                                          caseless);
    static const pcrecpp::RE httpReference(
        "<ref[^>]+href\\s*=\\s*['\"](http://[^'\"]+)['\"][^>]*/>", caseless);
    std::string address;
    if (mmsReference.PartialMatch(text, &address) || httpReference.PartialMatch(text, &address))
        return address;
    return {};
}

} // namespace VideoPage
