// artgen: draws the pictures compiled into the program and writes them as PNG files.
//
//   artgen <output folder> [product...]   write the named products (all when none is named)
//   artgen --list                         list the products
//
// Needs no display: run with QT_QPA_PLATFORM=offscreen.

#include "ArtProducts.h"

#include <QDir>
#include <QGuiApplication>
#include <QImageWriter>
#include <QStringList>
#include <cstdio>

namespace {

void printUsage() {
    std::fprintf(stderr, "usage: artgen <output folder> [product...]\n"
                         "       artgen --list\n");
}

const ArtProduct* findProduct(const QString& name) {
    for (const ArtProduct& product : artProducts())
        if (product.name == name)
            return &product;
    return nullptr;
}

bool writePicture(const QDir& folder, const ArtPicture& picture) {
    QString path = folder.filePath(picture.name + QStringLiteral(".png"));
    QImageWriter writer(path, "png");
    if (!writer.write(picture.image)) {
        std::fprintf(stderr, "artgen: cannot write %s: %s\n", qPrintable(path),
                     qPrintable(writer.errorString()));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    if (args.size() == 1 && args[0] == QStringLiteral("--list")) {
        for (const ArtProduct& product : artProducts())
            std::printf("%-16s %s\n", qPrintable(product.name), qPrintable(product.description));
        return 0;
    }
    if (args.isEmpty() || args[0].startsWith(QLatin1Char('-'))) {
        printUsage();
        return 2;
    }

    QDir folder(args.takeFirst());
    std::vector<const ArtProduct*> chosen;
    if (args.isEmpty()) {
        for (const ArtProduct& product : artProducts())
            chosen.push_back(&product);
    }
    for (const QString& name : args) {
        const ArtProduct* product = findProduct(name);
        if (!product) {
            std::fprintf(stderr, "artgen: no product named %s (see --list)\n", qPrintable(name));
            return 2;
        }
        chosen.push_back(product);
    }

    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "artgen: cannot create %s\n", qPrintable(folder.path()));
        return 1;
    }

    bool ok = true;
    for (const ArtProduct* product : chosen)
        for (const ArtPicture& picture : product->draw())
            ok = writePicture(folder, picture) && ok;
    return ok ? 0 : 1;
}
