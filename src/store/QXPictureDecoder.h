#pragma once

#include <FreeImagePlus.h>
#include <span>
#include <string>

// Decodes pictures that come from outside the program, bounded whatever the decoder
// does: the header is checked first (QXPictureHeader), and the decoding itself runs in a
// separate decoder process that may grow by the memory budget for each picture and must
// answer within kTimeLimitSeconds, so a picture that makes FreeImage allocate gigabytes,
// loop or crash ends as a refusal instead of ending the program. The process lives on
// between pictures (a fork per picture would cost milliseconds on every key shown) and
// is started again after it died. The pixels come back over a socket in standard 8-bit
// colour (QXPictureColours::toStandard).
//
// Safe to call from any thread; pictures are decoded one at a time.
namespace QXPictureDecoder {

constexpr unsigned long long kMemoryBudget = 1ULL << 30;
// A key picture decodes in milliseconds; the largest picture accepted in well under a
// second. Callers may be on the GUI thread, so a decoder that runs away is cut short.
constexpr int kTimeLimitSeconds = 5;

// The picture's pixels, or false with the reason in refusal (for a log line).
bool decode(std::span<const unsigned char> bytes, fipImage& picture, std::string& refusal,
            unsigned long long memoryBudget = kMemoryBudget);

// One picture of many: what it is made from, where its pixels go, and why not (empty
// when decoded).
struct Job {
    std::span<const unsigned char> bytes;
    fipImage* picture = nullptr;
    std::string refusal;
};

// Decodes many pictures as decode does, several in flight at once, so a whole keyboard
// of key pictures costs little more than the decoding itself.
void decodeMany(std::span<Job> jobs, unsigned long long memoryBudget = kMemoryBudget);

} // namespace QXPictureDecoder
