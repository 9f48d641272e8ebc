#include "ArtProducts.h"

#include "ActionIcons.h"
#include "ButtonSets.h"
#include "KeyboardTemplate.h"
#include "MailIcons.h"
#include "ProgramIcons.h"
#include "ToolBarIcons.h"

#include <QImageWriter>
#include <cstdio>

namespace {

const QString kResources = QStringLiteral("src/model/resources");
const QString kData = QStringLiteral("data");

// A product that is a set of pictures written side by side.
std::function<bool(const QDir&)> pictures(std::vector<ArtPicture> (*draw)()) {
    return [draw](const QDir& folder) { return writePictures(folder, draw()); };
}

} // namespace

const std::vector<ArtProduct>& artProducts() {
    static const std::vector<ArtProduct> products = {
        {QStringLiteral("action-icons"),
         QStringLiteral("48x48 icons of the multimedia verbs (ACTION_*.png)"), kResources,
         pictures(drawActionIcons)},
        {QStringLiteral("keyboard-template"),
         QStringLiteral("the keyboard picture key pictures are laid into (KEYBOARD_TEMPLATE.png)"),
         kResources, pictures(drawKeyboardTemplate)},
        {QStringLiteral("default-buttons"),
         QStringLiteral("item folder default_buttons: every key's label"), kData,
         writeDefaultButtons},
        {QStringLiteral("control-buttons"),
         QStringLiteral("item folder control_buttons: the lock keys lit"), kData,
         writeControlButtons},
        {QStringLiteral("program-icons"), QStringLiteral("the program's icon and its tray icons"),
         kData + QStringLiteral("/icons"), pictures(drawProgramIcons)},
        {QStringLiteral("toolbar-icons"),
         QStringLiteral("the main window's tool-bar pictures, 56x32 and @2x"),
         kData + QStringLiteral("/icons"), pictures(drawToolBarIcons)},
        {QStringLiteral("mail"), QStringLiteral("the Mail plug-in's key backgrounds"), QStringLiteral("src/plugins/Mail"), pictures(drawMailIcons)},
    };
    return products;
}

bool writePictures(const QDir& folder, const std::vector<ArtPicture>& pictures) {
    bool ok = true;
    for (const ArtPicture& picture : pictures) {
        QString path = folder.filePath(picture.name + QStringLiteral(".png"));
        QImageWriter writer(path, "png");
        if (!writer.write(picture.image)) {
            std::fprintf(stderr, "artgen: cannot write %s: %s\n", qPrintable(path),
                         qPrintable(writer.errorString()));
            ok = false;
            continue;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return ok;
}
