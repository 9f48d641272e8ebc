#include "model/QXButton.h"

void QXButton::show() {
    if (image) {
        if (!image->isLoaded())
            image->loadSource();
        image->ensureKeySize();
    }
    if (view)
        view->show();
    showing = true;
}

void QXButton::hide() {
    if (view)
        view->hide();
    if (image && !image->changed() && image->isLoaded() && !image->sourcePath().empty())
        image->unload();
    showing = false;
}

int readByteValue(std::u16string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    unsigned value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = value * 10 + static_cast<unsigned>(text[i] - u'0'); // wraps harmlessly: low byte kept
    if (negative)
        value = 0u - value;
    return static_cast<int>(value & 0xFF);
}
