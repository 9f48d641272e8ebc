#pragma once

#include "ArtProducts.h"

// The Mail plug-in's key backgrounds, 48 x 48, an envelope on a dark ground: "mail" (a
// closed envelope, mail waiting), "no_mail" (an empty open envelope), "no_connect" (an
// envelope with a broken link), "mailer_get" (mail arriving), "mailer_no" (nothing new) and
// "mailer_error" (a red cross). The lower middle stays calm: the count badge goes there.
std::vector<ArtPicture> drawMailIcons();
