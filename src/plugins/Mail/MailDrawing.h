#pragma once

#include "pluginhost/QXPluginInterfaces.h"

#include <QString>
#include <cstdint>

class QPainter;

// The drawing the mail views share: a background picture from the plug-in's own folder
// and the rounded count badge.
namespace MailDrawing {

// Badge colours, packed 0x00BBGGRR: red for web mail, brown-gold for local and POP3 mail.
inline constexpr uint32_t kWebMailBadge = 0x241CED;
inline constexpr uint32_t kMailerBadge = 0x6CA5CA;

// The folder the plug-in library was loaded from, with a trailing "/".
const std::string& pluginFolder();

// Draws the picture file "name" of the plug-in's folder stretched over the 48 x 48 key;
// a missing or unreadable file draws nothing.
void drawBackground(QPainter& painter, const char* name);

// The count on a bar in colorref behind it, centred on (24, 36), in white.
void drawBadge(QPainter& painter, uint32_t colorref, int count);

// Draws the background "picture" and, when count is above 0, the badge in colorref, on the
// context's surface, and publishes it.
void show(IQXViewPluginContext* context, const char* picture, int count = 0,
          uint32_t colorref = kMailerBadge);

} // namespace MailDrawing
