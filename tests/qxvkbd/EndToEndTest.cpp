// The program's device side driving the virtual keyboard as a separate program: the
// layers of a profile reach its displays, its key presses reach the layers, and
// `qxctl dump` prepares the very files the program writes.
#include "device/QXDeviceController.h"
#include "model/QXKeyTable.h"
#include "model/QXLayoutPicture.h"
#include "platform/QXDispatch.h"
#include "platform/QXMessages.h"
#include "store/QXProfile.h"
#include "support/QXTestSupport.h"

#include <QImage>
#include <QString>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using qxtest::ChildProcess;
using qxtest::ProgramResult;
using qxtest::waitFor;

namespace {

const std::string kProgramDir = QX_PROGRAM_DIR;

struct ConnectedState : QXSystemState {
    bool isKeyboardConnected() const override { return true; }
};

struct Action : QXKeyActionInstance {
    std::vector<int> states;
    void keyEvent(int, int state) override { states.push_back(state); }
};

std::string displayFile(size_t key) {
    char name[16];
    std::snprintf(name, sizeof name, "%03d.sys", QXKeyTable::key(key).displayNumber);
    return name;
}

class EndToEndTest : public ::testing::Test {
protected:
    EndToEndTest()
        : m_runtime("XDG_RUNTIME_DIR", (m_dir / "run").string()),
          m_platform("QT_QPA_PLATFORM", "offscreen"), m_display("DISPLAY", "") {
        fs::create_directories(m_dir / "run");
        fs::permissions(m_dir / "run", fs::perms::owner_all);
        QXDispatch::setCurrent(&m_dispatch);
        QXSystemState::setCurrent(&m_state);
    }
    ~EndToEndTest() override {
        QXSystemState::setCurrent(nullptr);
        QXDispatch::setCurrent(nullptr);
    }

    fs::path folder() const { return m_dir / "run" / "TesseraQuadrix-virtual"; }
    fs::path tessera() const { return folder() / "kb" / "disk" / "vTessera"; }

    // A fresh profile as the program leaves it after its first start, with one layer of
    // the user's own that paints F1 blue.
    void makeProfile(QXLayerTree& tree) {
        std::vector<std::u16string> names;
        for (const QXKeyRecord& key : QXKeyTable::keys())
            names.emplace_back(key.name);
        QXProfile profile({m_dir / "profile", m_dir / "tmp", kProgramDir}, names);
        tree.loadFrom(*profile.load()->findChild(u"Layers"));
        tree.ensureFixedItems(profile);
        auto mine = makeQX<QXLayer>(u"mine");
        fipImage blue(FIT_BITMAP, 48, 48, 24);
        RGBQUAD colour{255, 0, 0, 0};
        for (unsigned y = 0; y < 48; ++y)
            for (unsigned x = 0; x < 48; ++x)
                blue.setPixelColor(x, y, &colour);
        mine->getButton(kF1)->image = makeQX<QXImage>(blue);
        mine->getButton(kF1)->image->setChanged(true);
        tree.userLayers()->children().insert(tree.userLayers()->children().begin(), mine);
        QXPropertyNode root(u"root");
        tree.saveTo(root);
        ASSERT_TRUE(profile.save(root));
    }

    static constexpr size_t kEscape = 0, kF1 = 1;
    qxtest::TempDir m_dir;
    qxtest::ScopedEnv m_runtime, m_platform, m_display;
    QXDispatch m_dispatch;
    ConnectedState m_state;
};

TEST_F(EndToEndTest, TheKeyboardShowsTheProfileTakesPressesAndQxctlDumpsTheSameFiles) {
    QXLayerTree tree;
    makeProfile(tree);
    ChildProcess keyboard({kProgramDir + "/qxvkbd", "--name", "kb", "--no-window"});
    ASSERT_TRUE(waitFor([&] { return fs::is_socket(folder() / "kb" / "control.sock"); }));

    QXLayersController layers(tree, m_dispatch);
    layers.reevaluate();
    QXDevice device(QXDeviceDiscovery::createVirtualBackend(folder()));
    QXDeviceController controller(device, layers, [] { return std::optional<unsigned>(); });
    controller.setPause([] {});
    controller.setBrightness(100, false);
    ASSERT_TRUE(device.discoverAndConnect());
    ASSERT_TRUE(device.hasKeyReports());

    // Every display written, F1 with the user's layer.
    ASSERT_TRUE(waitFor([&] {
        for (size_t key = 0; key < QXKeyTable::keyCount(); ++key)
            if (!fs::exists(tessera() / "dynamic" / displayFile(key)))
                return false;
        return qxtest::readFile(tessera() / "order.sys").substr(0, 4) == "b100";
    }));

    // qxctl prepares the same files from the profile on disk.
    const ProgramResult dumped = qxtest::runProgram(
        {kProgramDir + "/qxctl", "--profile", (m_dir / "profile").string(), "dump",
         (m_dir / "dump").string()});
    ASSERT_EQ(dumped.exitStatus, 0) << dumped.err;
    // The device thread may still be writing the code table: wait for the files to agree.
    auto differs = [&] {
        std::vector<std::string> keys;
        for (size_t key = 0; key < QXKeyTable::keyCount(); ++key)
            if (qxtest::readFile(m_dir / "dump" / "Tessera" / "normal" / displayFile(key)) !=
                qxtest::readFile(tessera() / "dynamic" / displayFile(key)).substr(0, 4608))
                keys.push_back(displayFile(key));
        if (qxtest::readFile(m_dir / "dump" / "Tessera" / "scancode.sys") !=
            qxtest::readFile(tessera() / "scancode.sys").substr(0, 9216))
            keys.push_back("scancode.sys");
        return keys;
    };
    EXPECT_TRUE(waitFor([&] { return differs().empty(); }))
        << "differ: " << ::testing::PrintToString(differs());

    const fs::path shot = m_dir / "shot.png";
    const ProgramResult snap = qxtest::runProgram(
        {kProgramDir + "/qxvkbd", "snapshot", shot.string(), "--name", "kb"});
    ASSERT_EQ(snap.exitStatus, 0) << snap.err;
    const QImage image = QImage(QString::fromStdString(shot.string())).convertToFormat(QImage::Format_RGB888);
    auto pixel = [&](size_t key, int row, int column) {
        const QXLayoutPicture::Square s = QXLayoutPicture::keySquare(key);
        return image.pixelColor(s.left + column, s.top + row);
    };
    EXPECT_EQ(pixel(kF1, 24, 24), QColor(0, 0, 255));
    // Escape shows the shipped default picture, pixel for pixel within what 5-6-5 loses
    // (green below 8 is dropped whole).
    QXButton* escape = layers.pictureStack().getButton(kEscape);
    ASSERT_TRUE(escape && escape->image && escape->image->isLoaded());
    int differing = 0;
    for (int row = 0; row < 48; ++row)
        for (int column = 0; column < 48; ++column) {
            RGBQUAD expected;
            escape->image->getPixelColor(column, 47 - row, &expected);
            const QColor shown = pixel(kEscape, row, column);
            if (std::abs(shown.red() - expected.rgbRed) > 8 ||
                std::abs(shown.green() - expected.rgbGreen) > 8 ||
                std::abs(shown.blue() - expected.rgbBlue) > 8)
                ++differing;
        }
    EXPECT_EQ(differing, 0);

    // A press on the keyboard reaches the action of the button that wins the key.
    auto action = makeQX<Action>();
    tree.find(u"mine").dynamicCast<QXLayer>()->getButton(kF1)->action = action;
    const ProgramResult press = qxtest::runProgram({kProgramDir + "/qxvkbd", "press", "F1", "--name", "kb"});
    ASSERT_EQ(press.exitStatus, 0) << press.err;
    EXPECT_TRUE(waitFor([&] {
        m_dispatch.runPosted();
        return action->states.size() == 2;
    }));
    EXPECT_EQ(action->states, (std::vector<int>{1, 0}));
    keyboard.terminate();
}

} // namespace
