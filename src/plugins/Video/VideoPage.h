#pragma once

#include <string>
#include <string_view>

// Web pages that embed a video: an "http://" address is first read as such a page when its
// content type is a page's or a stream list's, and the address found in it is played.
namespace VideoPage {

// True for the content types read as a page or a stream reference list: those that occur
// within "text/htmlvideo/x-ms-asf" ("text/html", "video/x-ms-asf", also parts of them, and
// none). Parameters after a ';' ("; charset=UTF-8") do not count.
bool isPageContentType(std::string_view contentType);

// The stream address a page names, or "" when it names none: the src attribute (quoted or
// not) of an embedded player of type application/x-mplayer2; else the first "mms://" entry
// of a stream reference list; else its first "http://" entry.
std::string findStreamAddress(std::string_view page);

} // namespace VideoPage
