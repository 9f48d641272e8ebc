// artgen: draws the pictures and item folders that ship with the program and writes them
// into their places in a checkout, to be committed.
//
//   artgen <checkout> [product...]   write the named products (all when none is named)
//   artgen --list                    list the products and where they go
//
// Needs no display: run with QT_QPA_PLATFORM=offscreen. The output depends only on the
// code and on the DejaVu Sans font, so running it again gives the same bytes.

#include "ArtFont.h"
#include "ArtProducts.h"

#include <QDir>
#include <QGuiApplication>
#include <QStringList>
#include <cstdio>

namespace {

void printUsage() {
    std::fprintf(stderr, "usage: artgen <top of the checkout> [product...]\n"
                         "       artgen --list\n");
}

const ArtProduct* findProduct(const QString& name) {
    for (const ArtProduct& product : artProducts())
        if (product.name == name)
            return &product;
    return nullptr;
}

} // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);

    if (args.size() == 1 && args[0] == QStringLiteral("--list")) {
        for (const ArtProduct& product : artProducts())
            std::printf("%-18s %-20s %s\n", qPrintable(product.name), qPrintable(product.folder),
                        qPrintable(product.description));
        return 0;
    }
    if (args.isEmpty() || args[0].startsWith(QLatin1Char('-'))) {
        printUsage();
        return 2;
    }

    const QDir checkout(args.takeFirst());
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

    // Another font would silently change every label, so refuse to draw without it.
    QString fontProblem = checkArtFont();
    if (!fontProblem.isEmpty()) {
        std::fprintf(stderr, "artgen: %s\n", qPrintable(fontProblem));
        return 1;
    }

    bool ok = true;
    for (const ArtProduct* product : chosen) {
        QDir folder(checkout.filePath(product->folder));
        if (!folder.mkpath(QStringLiteral("."))) {
            std::fprintf(stderr, "artgen: cannot create %s\n", qPrintable(folder.path()));
            ok = false;
            continue;
        }
        ok = product->write(folder) && ok;
    }
    return ok ? 0 : 1;
}
