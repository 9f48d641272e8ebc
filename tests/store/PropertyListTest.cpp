#include "StoreTestUtil.h"
#include "platform/QXText.h"
#include "store/QXPropertyList.h"
#include "store/QXXmlDocument.h"
#include "support/QXTestSupport.h"

#include <gtest/gtest.h>
#include <csignal>
#include <fstream>
#include <random>
#include <sys/resource.h>

using qxtest::readFile;
using qxtest::TempDir;
using qxtest::writeFile;

namespace {

std::string plist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n" + body +
           "</dict>\n</plist>\n";
}

QXPropertyNode::Ptr parse(const std::string& body) {
    return parsePropertyList(plist(body), u"doc");
}

QXPropertyNode::Ptr roundTrip(const QXPropertyNode& node) {
    return parsePropertyList(printPropertyList(node), u"doc");
}

TEST(PropertyListRead, DuplicateKeysReplaceTheFirstInPlace) {
    auto node = parse("<key>a</key><string>1</string><key>b</key><string>2</string>"
                      "<key>a</key><string>3</string>");
    ASSERT_TRUE(node);
    EXPECT_EQ(storetest::childNames(node), (std::vector<std::u16string>{u"a", u"b"}));
    EXPECT_EQ(node->childValue(u"a"), u"3");
}

TEST(PropertyListRead, ValueElementsOtherThanStringReadAsTheirName) {
    auto node = parse("<key>n</key><integer>5</integer><key>t</key><true/>"
                      "<key>f</key><false/><key>d</key><date>2020</date>"
                      "<key>arr</key><array><string>x</string><integer>1</integer>"
                      "<string>x</string><string>y</string></array>");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->childValue(u"n"), u"integer");
    EXPECT_EQ(node->childValue(u"t"), u"true");
    EXPECT_EQ(node->childValue(u"f"), u"false");
    EXPECT_EQ(node->childValue(u"d"), u"date");
    EXPECT_EQ(storetest::childNames(node->findChild(u"arr")),
              (std::vector<std::u16string>{u"x", u"y"}))
        << "an array keeps each string once and skips other elements";
}

TEST(PropertyListRead, KeyWithoutValueElementIsSkippedAndReadingGoesOn) {
    auto node = parse("<key>lost</key><!-- note --><string>v</string>"
                      "<key>kept</key><string>w</string><key>last</key>");
    ASSERT_TRUE(node);
    EXPECT_FALSE(node->findChild(u"lost"));
    EXPECT_FALSE(node->findChild(u"last"));
    EXPECT_EQ(node->childValue(u"kept"), u"w");
}

TEST(PropertyListRead, RootElementOfAnyNameIsReadWhenItHoldsADict) {
    auto node = parsePropertyList("<config><dict><key>k</key><string>v</string></dict></config>",
                                  u"doc");
    ASSERT_TRUE(node);
    EXPECT_EQ(node->childValue(u"k"), u"v");

    auto noDict = parsePropertyList("<plist><array/></plist>", u"doc");
    ASSERT_TRUE(noDict) << "a document without a dict reads as an empty node";
    EXPECT_FALSE(noDict->hasChildren());
}

TEST(PropertyListRoundTrip, ValuesSurviveExactly) {
    QXPropertyNode node(u"doc");
    node.addChild(u"true", u"true");
    node.addChild(u"True", u"True");
    node.addChild(u"empty", u"");
    node.addChild(u"spaces", u"  two  spaces\n\tand a tab  ");
    node.addChild(u"Grüße ключ 鍵", u"Ünïcödé ✓ 𝄞");
    node.addChild(u"markup", u"<a href=\"x\">&amp;</a>");
    std::u16string longText(400, u'é');
    node.addChild(u"long", longText);

    std::string text = printPropertyList(node);
    EXPECT_NE(text.find("<True"), 0u);
    EXPECT_NE(text.find("<string>True</string>"), std::string::npos)
        << "only the exact lower-case words are booleans";
    EXPECT_NE(text.find("<true"), std::string::npos);

    auto back = parsePropertyList(text, u"doc");
    ASSERT_TRUE(back);
    EXPECT_EQ(storetest::difference(node, *back), "");
    EXPECT_EQ(back->childValue(u"long").size(), 400u) << "long text is written whole";
}

TEST(PropertyListRoundTrip, BooleansAreWrittenAsEmptyElementsNeverAsStrings) {
    QXPropertyNode node(u"doc");
    node.addChild(u"on", u"true");
    node.addChild(u"off", u"false");
    const std::string text = printPropertyList(node);
    EXPECT_EQ(text.find("<string>true</string>"), std::string::npos) << text;
    EXPECT_EQ(text.find("<string>false</string>"), std::string::npos) << text;
    EXPECT_NE(text.find("<key>on</key>\n        <true />"), std::string::npos) << text;
    EXPECT_NE(text.find("<key>off</key>\n        <false />"), std::string::npos) << text;
}

TEST(PropertyListRoundTrip, NodeWithValueAndChildrenIsWrittenAsDictAndLosesItsValue) {
    QXPropertyNode node(u"doc");
    auto both = node.addChild(u"both", u"lost value");
    both->addChild(u"inner", u"x");
    auto back = roundTrip(node);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->findChild(u"both")->value(), u"");
    EXPECT_EQ(back->findChild(u"both")->childValue(u"inner"), u"x");
}

TEST(PropertyListFile, WrittenFileHasTheDeclarationDoctypeAndPlistRoot) {
    TempDir dir;
    QXPropertyNode node(u"doc");
    node.addChild(u"k", u"v");
    ASSERT_TRUE(savePropertyList(node, dir / "a.plist"));
    std::string text = readFile(dir / "a.plist");
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>", 0), 0u) << text;
    EXPECT_NE(text.find("<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\""),
              std::string::npos);
    EXPECT_NE(text.find("<plist version=\"1.0\">"), std::string::npos);
    auto back = loadPropertyList(dir / "a.plist", u"doc");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->childValue(u"k"), u"v");
}

TEST(PropertyListFile, DamagedFilesLoadAsNothingAndSayWhy) {
    TempDir dir;
    QXLoadStatus status;
    EXPECT_FALSE(loadPropertyList(dir / "missing.plist", u"x", &status));
    EXPECT_EQ(status, QXLoadStatus::Missing);

    const std::string good = plist("<key>a</key><string>1</string>");
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {"empty", ""},
        {"truncated", good.substr(0, good.size() / 2)},
        {"not xml", "this is not a property list"},
        {"binary", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe", 18)},
        {"deep", std::string(200000, '<').insert(0, "<plist>")},
        {"deeply nested", [] {
             std::string s = "<plist><dict>";
             for (int i = 0; i < 5000; ++i)
                 s += "<key>k</key><dict>";
             return s;
         }()},
    };
    for (const auto& [what, content] : damaged) {
        writeFile(dir / "bad.plist", content);
        EXPECT_FALSE(loadPropertyList(dir / "bad.plist", u"x", &status)) << what;
        EXPECT_EQ(status, QXLoadStatus::Unreadable) << what;
    }
    // A folder where a file is expected is unreadable too, not a crash.
    std::filesystem::create_directory(dir / "folder.plist");
    EXPECT_FALSE(loadPropertyList(dir / "folder.plist", u"x", &status));
}

TEST(PropertyListFile, AFileCutShortAnywhereReadsWholeOrNotAtAll) {
    // What a crash or a full disk leaves: every prefix of a group file.
    QXPropertyNode node(u"doc");
    auto order = node.addChild(u"ItemOrder");
    order->addChild(u"{1}");
    order->addChild(u"{2}");
    node.addChild(u"DisplayName", u"Grüße");
    node.addChild(u"Disabled", u"false");
    const std::string whole = printPropertyList(node);
    TempDir dir;
    for (size_t length = 0; length < whole.size(); ++length) {
        writeFile(dir / "cut.plist", whole.substr(0, length));
        QXLoadStatus status;
        QXPropertyNode::Ptr read = loadPropertyList(dir / "cut.plist", u"doc", &status);
        if (status == QXLoadStatus::Loaded) {
            ASSERT_TRUE(read);
            EXPECT_EQ(storetest::difference(node, *read), "") << "cut at " << length;
        } else {
            EXPECT_TRUE(status == QXLoadStatus::Unreadable || status == QXLoadStatus::Empty)
                << "cut at " << length;
        }
    }
    for (const char* empty : {"<plist/>", "<", "</x>", "<?xml version=\"1.0\"", "<plist></plist>"}) {
        writeFile(dir / "empty.plist", empty);
        QXLoadStatus status;
        loadPropertyList(dir / "empty.plist", u"doc", &status);
        EXPECT_NE(status, QXLoadStatus::Loaded) << empty;
    }
}

// TinyXML recurses once per open element: whatever a file holds, the parse must be
// refused before that recursion can exhaust the stack. Each shape hides depth from a
// naive tag counter; none may crash the test.
TEST(PropertyListRead, DepthIsBoundedWhateverComesBeforeOrAroundTheElements) {
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += s;
        return out;
    };
    const int n = 60000;
    const std::vector<std::pair<std::string, std::string>> hostile = {
        {"stray end tags first", repeat("</x>", n) + repeat("<a>", n)},
        {"end tags in comments", "<plist>" + repeat("<a><!--</a>-->", n)},
        {"end tags in attributes", "<plist>" + repeat("<a b=\"</a>\">", n)},
        {"elements after a processing instruction's first '>'",
         "<?pi >" + repeat("<a>", n) + "?>"},
        {"unknown tags", repeat("<!x></a>", n) + repeat("<a>", n)},
        {"broken UTF-8 before a tag", "<plist>" + repeat("<a>\xF0</a>", n)},
    };
    for (const auto& [what, text] : hostile)
        EXPECT_FALSE(parsePropertyList(text, u"x")) << what;

    // Markup inside text that TinyXML does not nest is no reason to refuse a file.
    const std::string cdata = plist("<key>k</key><string><![CDATA[" + repeat("<a>", n) +
                                    "]]></string>");
    ASSERT_TRUE(parsePropertyList(cdata, u"x")) << "CDATA is text";
    std::string nested = "<plist>";
    for (int i = 0; i < 400; ++i)
        nested += "<dict><key>k</key>";
    EXPECT_TRUE(parsePropertyList(nested + repeat("</dict>", 400) + "</plist>", u"x"))
        << "a deep but reasonable document still reads";
}

TEST(PropertyListFile, EnormousFileIsRefusedWithoutReadingIt) {
    TempDir dir;
    {
        std::ofstream out(dir / "huge.plist", std::ios::binary);
        out << plist("");
    }
    std::filesystem::resize_file(dir / "huge.plist", (size_t(64) << 20) + 1);
    QXLoadStatus status;
    EXPECT_FALSE(loadPropertyList(dir / "huge.plist", u"x", &status));
    EXPECT_EQ(status, QXLoadStatus::Unreadable);
}

TEST(PropertyListFile, SaveThatRunsOutOfSpaceLeavesTheOldFileWhole) {
    TempDir dir;
    QXPropertyNode node(u"doc");
    node.addChild(u"k", u"old");
    ASSERT_TRUE(savePropertyList(node, dir / "a.plist"));
    const std::string before = readFile(dir / "a.plist");

    // A file-size limit makes writes fail the way a full disk does.
    node.addChild(u"k", std::u16string(100000, u'x'));
    struct rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    bool saved = savePropertyList(node, dir / "a.plist");
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved) << "a failed write is reported";
    EXPECT_EQ(readFile(dir / "a.plist"), before) << "the old file is untouched";
}

TEST(PropertyListFile, SaveLeavesNoScratchFilesBehind) {
    TempDir dir;
    QXPropertyNode node(u"doc");
    node.addChild(u"k", u"v");
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(savePropertyList(node, dir / "a.plist"));
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

} // namespace

namespace {

int parsedDepth(const TiXmlNode* node) {
    int deepest = 0;
    for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling())
        deepest = std::max(deepest, 1 + parsedDepth(child));
    return deepest;
}

// The depth check walks the text as TinyXML's parser does. Random texts made of the
// pieces that make a parser and a naive counter disagree (comments, CDATA, declarations,
// unknown tags, quotes, character references, stray end tags, broken UTF-8) must never
// let TinyXML nest deeper than the check said.
TEST(PropertyListRead, TheDepthCheckNeverSeesLessNestingThanTinyXml) {
    const std::vector<std::string> pieces = {
        "<a>", "<a>", "<a>", "</a>", "<b x=\"1\">", "</b>", "<a/>", "<!--", "-->", "<![CDATA[",
        "]]>", "<?xml version=\"1.0\"", "?>", "<?pi", "<!x", ">", "\"", "'", "&#x", "&#",
        "x;", "1;", "#;", "text", " ", "</", "<", "/>", "=", "\xC3\xA9", "\xF0", "<_"};
    QXXmlDocument::configureTinyXml();
    std::mt19937 random(20261208);
    constexpr int kLimit = 4;
    int accepted = 0;
    for (int round = 0; round < 40000; ++round) {
        std::string text;
        const int count = 1 + int(random() % 40);
        for (int i = 0; i < count; ++i)
            text += pieces[random() % pieces.size()];
        if (xmlNestingExceeds(text, kLimit))
            continue;
        ++accepted;
        TiXmlDocument document;
        std::string padded = text + std::string(8, '\0');
        document.Parse(padded.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
        // Elements nest kLimit deep at most; text and other nodes add one level below.
        ASSERT_LE(parsedDepth(&document), kLimit + 1) << text;
    }
    EXPECT_GT(accepted, 1000) << "the check refuses too much to tell anything";
}

} // namespace
