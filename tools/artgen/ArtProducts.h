#pragma once

#include <QDir>
#include <QImage>
#include <QString>
#include <functional>
#include <vector>

// One picture the generator writes: "<name>.png" in the product's folder.
struct ArtPicture {
    QString name;
    QImage image;
};

// A group of files drawn together and written with one command, such as the icons of the
// multimedia verbs or a shipped item folder. New kinds of picture are added as new products
// in ArtProducts.cpp.
struct ArtProduct {
    QString name;        // what the command line calls it
    QString description; // one line for "--list"
    QString folder;      // where its files belong, relative to the top of the checkout
    // Writes the product into the folder (created beforehand), printing the path of every
    // file or item folder written; false after a failure, which it reports on stderr.
    std::function<bool(const QDir& folder)> write;
};

// Every product, in the order they are written when none is named.
const std::vector<ArtProduct>& artProducts();

// Writes each picture as "<name>.png" in the folder. Pictures keep their own format, so a
// QImage::Format_RGB888 picture gives a 24-bit file and an ARGB one a 32-bit file.
bool writePictures(const QDir& folder, const std::vector<ArtPicture>& pictures);
