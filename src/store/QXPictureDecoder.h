#pragma once

#include <FreeImagePlus.h>
#include <span>
#include <string>

// Decodes pictures that come from outside the program, bounded whatever the decoder
// does: the header is checked first (QXPictureHeader), and the decoding itself runs in a
// short-lived child process with kMemoryBudget more address space than the program uses
// and kTimeLimitSeconds of time, so a picture that makes FreeImage allocate gigabytes or
// loop ends as a refusal instead of ending the program. The pixels come back over a pipe
// in standard 8-bit colour (QXPictureColours::toStandard).
//
// Safe to call from any thread; each call has its own child.
namespace QXPictureDecoder {

constexpr unsigned long long kMemoryBudget = 1ULL << 30;
constexpr int kTimeLimitSeconds = 30;

// The picture's pixels, or false with the reason in refusal (for a log line).
bool decode(std::span<const unsigned char> bytes, fipImage& picture, std::string& refusal,
            unsigned long long memoryBudget = kMemoryBudget);

} // namespace QXPictureDecoder
