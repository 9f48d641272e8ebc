#pragma once

#include <QImage>
#include <QString>
#include <functional>
#include <vector>

// One picture the generator writes: "<name>.png" in the output folder.
struct ArtPicture {
    QString name;
    QImage image;
};

// A group of pictures drawn together and written with one command, such as the icons of the
// multimedia verbs. New kinds of picture are added as new products in ArtProducts.cpp.
struct ArtProduct {
    QString name;        // what the command line calls it
    QString description; // one line for "--list"
    std::function<std::vector<ArtPicture>()> draw;
};

// Every product, in the order they are written when none is named.
const std::vector<ArtProduct>& artProducts();
