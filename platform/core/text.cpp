// The texts drawn on the back buffer, kept for the test seam. The glyphs
// themselves are drawn from data (glyphs.cpp).
#include "platform/core/core.h"

namespace standin {

TextLog textsSinceFlip;
TextLog textsOfLastPresent;

void TextLog::Add(int x, int y, const char* text, int length, COLORREF colour, BYTE index) {
    if (count == records.size()) records.emplace_back();
    TextRecord& record = records[count++];
    record.x = x;
    record.y = y;
    record.text.assign(text, static_cast<size_t>(length));
    record.colour = colour;
    record.index = index;
}

void ForgetTexts() {
    textsSinceFlip = TextLog{};
    textsOfLastPresent = TextLog{};
}

}  // namespace standin
