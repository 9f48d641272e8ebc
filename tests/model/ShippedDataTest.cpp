// The data that ships with the program, drawn by tools/artgen: the item folders
// "default_buttons" and "control_buttons" and the keyboard template picture.

#include "model/QXKeyTable.h"
#include "model/QXModelResources.h"
#include "platform/QXText.h"
#include "store/QXImage.h"
#include "store/QXProfile.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kData = fs::path(QX_SOURCE_DIR) / "data";

struct Rgb {
    int r, g, b;
    bool black() const { return r == 0 && g == 0 && b == 0; }
};

// Pixels counted from the top, although FreeImage counts rows from the bottom.
Rgb pixelAt(const fipImage& image, unsigned x, unsigned y) {
    RGBQUAD quad{};
    const_cast<fipImage&>(image).getPixelColor(x, image.getHeight() - 1 - y, &quad);
    return {quad.rgbRed, quad.rgbGreen, quad.rgbBlue};
}

std::string pixelBytes(const fipImage& image) {
    std::string bytes;
    for (unsigned y = 0; y < image.getHeight(); ++y)
        for (unsigned x = 0; x < image.getWidth(); ++x) {
            Rgb p = pixelAt(image, x, y);
            bytes += {char(p.r), char(p.g), char(p.b)};
        }
    return bytes;
}

double meanBrightness(const fipImage& image) {
    double sum = 0;
    for (unsigned y = 0; y < image.getHeight(); ++y)
        for (unsigned x = 0; x < image.getWidth(); ++x) {
            Rgb p = pixelAt(image, x, y);
            sum += p.r + p.g + p.b;
        }
    return sum / (3.0 * image.getWidth() * image.getHeight());
}

std::string nameOf(size_t key) {
    return toUtf8(QXKeyTable::key(key).name);
}

// Reads a shipped item folder the way the program seeds a profile from it.
QXPropertyNode::Ptr readShippedItem(const fs::path& folder) {
    std::vector<std::u16string> keyNames;
    for (const QXKeyRecord& key : QXKeyTable::keys())
        keyNames.emplace_back(key.name);
    QXProfile profile({}, keyNames);
    auto node = makeQX<QXPropertyNode>(fromPath(folder.filename()));
    EXPECT_TRUE(profile.readItemFolder(folder, *node)) << folder << " does not read";
    return node;
}

std::vector<std::u16string> childNames(const QXPropertyNode::Ptr& node) {
    std::vector<std::u16string> names;
    if (node)
        for (const QXPropertyNode::Ptr& child : node->children())
            names.push_back(child->name());
    return names;
}

// The picture the button's "Image" entry carries, decoded from its file; a key picture is
// 48 by 48. Empty when there is none.
QXPtr<QXImage> keyPicture(const QXPropertyNode& button) {
    QXPropertyNode::Ptr entry = button.findChild(u"Image");
    if (!entry || !entry->image()) {
        ADD_FAILURE() << toUtf8(button.name()) << " has no picture";
        return {};
    }
    EXPECT_EQ(entry->value(), button.name()) << "a picture is stored under its key's name";
    QXPtr<QXImage> picture = entry->image();
    if (!picture->loadSource()) {
        ADD_FAILURE() << picture->sourcePath() << " does not decode";
        return {};
    }
    EXPECT_EQ(picture->getWidth(), 48u) << picture->sourcePath();
    EXPECT_EQ(picture->getHeight(), 48u) << picture->sourcePath();
    return picture;
}

TEST(ShippedItems, DefaultButtonsIsALayerShowingEveryKeysLabel) {
    QXPropertyNode::Ptr layer = readShippedItem(kData / "default_buttons");
    EXPECT_FALSE(layer->findChild(u"Type")) << "read as a group";
    EXPECT_EQ(layer->childValue(u"DisplayName"), u"Default buttons");
    EXPECT_EQ(layer->childValue(u"Disabled"), u"false");
    EXPECT_FALSE(layer->findChild(u"Conditions"));

    QXPropertyNode::Ptr buttons = layer->findChild(u"Buttons");
    ASSERT_TRUE(buttons);
    std::vector<std::u16string> expected;
    for (const QXKeyRecord& key : QXKeyTable::keys())
        expected.emplace_back(key.name);
    ASSERT_EQ(childNames(buttons), expected) << "one button per key, in key-table order";

    // Keys with the same label (both Shifts, both Enters) share a picture; any two
    // different labels look different.
    std::map<std::string, std::u16string_view> labelOfPicture;
    std::set<std::u16string_view> labels;
    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        QXPtr<QXImage> picture = keyPicture(*buttons->children()[i]);
        ASSERT_TRUE(picture) << nameOf(i);
        EXPECT_EQ(picture->getBitsPerPixel(), 24u) << nameOf(i) << ": the keyboard shows 24 bits";
        const std::u16string_view label = QXKeyTable::key(i).label;
        labels.insert(label);
        auto [seen, added] = labelOfPicture.emplace(pixelBytes(*picture), label);
        EXPECT_EQ(seen->second, label)
            << nameOf(i) << " looks like the key labelled " << toUtf8(seen->second);
    }
    EXPECT_EQ(labelOfPicture.size(), labels.size()) << "keys with one label look different";
}

TEST(ShippedItems, ControlButtonsLightEachLockKeyWhileItsLockIsOn) {
    QXPropertyNode::Ptr group = readShippedItem(kData / "control_buttons");
    EXPECT_EQ(group->childValue(u"Type"), u"Group");
    EXPECT_EQ(group->childValue(u"DisplayName"), u"Lock indicators");
    QXPropertyNode::Ptr order = group->findChild(u"ItemOrder");
    ASSERT_EQ(childNames(order), (std::vector<std::u16string>{u"control_buttons_caps_lock",
                                                              u"control_buttons_num_lock",
                                                              u"control_buttons_scroll_lock"}));

    const struct {
        std::u16string_view displayName, letter, key;
    } locks[] = {{u"Caps Lock on", u"l", u"CapsLock"},
                 {u"Num Lock on", u"n", u"NumLock"},
                 {u"Scroll Lock on", u"r", u"ScrollLock"}};
    // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" with upper-case hex digits.
    auto isRegistryGuid = [](const std::string& text) {
        const std::string_view shape = "{________-____-____-____-____________}";
        if (text.size() != shape.size())
            return false;
        for (size_t i = 0; i < text.size(); ++i) {
            const char c = text[i];
            const bool hexDigit = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
            if (shape[i] == '_' ? !hexDigit : c != shape[i])
                return false;
        }
        return true;
    };
    QXPropertyNode::Ptr defaults =
        readShippedItem(kData / "default_buttons")->findChild(u"Buttons");
    ASSERT_TRUE(defaults);

    for (size_t i = 0; i < 3; ++i) {
        const QXPropertyNode& layer = *order->children()[i];
        const std::string what = toUtf8(layer.name());
        EXPECT_FALSE(layer.findChild(u"Type")) << what << " is not a layer";
        EXPECT_EQ(layer.childValue(u"DisplayName"), locks[i].displayName) << what;
        EXPECT_EQ(layer.childValue(u"Disabled"), u"false") << what;

        QXPropertyNode::Ptr conditions = layer.findChild(u"Conditions");
        ASSERT_TRUE(conditions && conditions->children().size() == 1u) << what;
        const QXPropertyNode& condition = *conditions->children()[0];
        EXPECT_TRUE(isRegistryGuid(toUtf8(condition.name())))
            << what << ": condition named " << toUtf8(condition.name());
        EXPECT_EQ(condition.childValue(u"Type"), u"lock") << what;
        EXPECT_EQ(condition.childValue(u"Modifiers"), locks[i].letter) << what;

        QXPropertyNode::Ptr buttons = layer.findChild(u"Buttons");
        ASSERT_EQ(childNames(buttons), std::vector<std::u16string>{std::u16string(locks[i].key)})
            << what;
        QXPtr<QXImage> lit = keyPicture(*buttons->children()[0]);
        ASSERT_TRUE(defaults->findChild(locks[i].key)) << what;
        QXPtr<QXImage> plain = keyPicture(*defaults->findChild(locks[i].key));
        ASSERT_TRUE(lit && plain) << what;
        EXPECT_GT(meanBrightness(*lit), meanBrightness(*plain) + 5)
            << what << ": the lit key is not clearly brighter than the default one";
    }
}

// The build copies the item folders beside the program; a copy must hold exactly the
// committed files, none left over from an older version.
TEST(ShippedItems, ProgramFolderHoldsExactCopies) {
    for (const char* item : {"default_buttons", "control_buttons"}) {
        const fs::path source = kData / item;
        const fs::path copy = fs::path(QX_PROGRAM_DIR) / item;
        auto files = [](const fs::path& root) {
            std::map<fs::path, std::string> found;
            for (const auto& entry : fs::recursive_directory_iterator(root))
                if (entry.is_regular_file())
                    found[fs::relative(entry.path(), root)] = qxtest::readFile(entry.path());
            return found;
        };
        ASSERT_TRUE(fs::is_directory(copy)) << copy << " was not copied";
        EXPECT_TRUE(files(source) == files(copy)) << copy << " differs from " << source;
    }
}

TEST(KeyboardTemplate, EveryKeySquareIsBlackAndFramedByItsCap) {
    const QXResourceData* resource = findResource(qxModelResources(), "KEYBOARD_TEMPLATE");
    ASSERT_TRUE(resource) << "the template is not compiled in";
    QXImage picture;
    ASSERT_TRUE(picture.loadMemory({resource->data, resource->size}));
    ASSERT_EQ(picture.getWidth(), 1312u);
    ASSERT_EQ(picture.getHeight(), 376u);
    EXPECT_TRUE(picture.getBitsPerPixel() == 24 || picture.getBitsPerPixel() == 32);

    for (size_t i = 0; i < QXKeyTable::keyCount(); ++i) {
        const int left = QXKeyTable::geometry(i).x + 4, top = QXKeyTable::geometry(i).y - 19;
        const int right = left + 48, bottom = top + 48; // exclusive
        // A ring one pixel outside the square must stay inside the picture too.
        ASSERT_TRUE(left >= 1 && top >= 1 && right + 1 <= 1312 && bottom + 1 <= 376)
            << nameOf(i) << " lies at the edge of the picture";

        int lit = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x)
                lit += !pixelAt(picture, x, y).black();
        EXPECT_EQ(lit, 0) << nameOf(i) << ": square not black";

        int edge = 0;
        for (int x = left - 1; x <= right; ++x)
            edge += !pixelAt(picture, x, top - 1).black() + !pixelAt(picture, x, bottom).black();
        for (int y = top; y < bottom; ++y)
            edge += !pixelAt(picture, left - 1, y).black() + !pixelAt(picture, right, y).black();
        EXPECT_GT(edge, 48) << nameOf(i) << ": the square has no visible edge around it";
    }
}

} // namespace
