#pragma once

#include "model/QXLayersItem.h"
#include "store/QXImage.h"

// The picture of a whole layer on the keyboard: a 1312 x 376 template of the keyboard
// with each key's 48 x 48 picture in its square, so a user can edit all pictures of a
// layer at once in any image editor and take the result back.
namespace QXLayoutPicture {

constexpr unsigned kWidth = 1312;
constexpr unsigned kHeight = 376;

struct Square {
    int left;
    int top; // from the top of the picture
};

// The key's 48 x 48 square in the picture: its anchor (the key's image position) moved
// by (+4, -19).
Square keySquare(size_t keyIndex);

// The keyboard template compiled into the program, 24 bits per pixel.
bool loadTemplate(fipImage& picture);

// The template with each assigned key's picture in its square and black in every other
// square, 24 bits per pixel. Pictures that are not decoded are read for this without
// keeping them decoded. Empty when the template cannot be read.
QXImage compose(const QXLayer& layer);

// Takes an edited layout picture back into the layer: a key with a picture gets its
// square's pixels; a key with neither picture nor view gets a new picture and its
// default action code when its square is not all black; keys with views are left
// alone. Every picture of the layer is then marked changed. False when the picture is
// not the template's size.
bool takeBack(QXLayer& layer, const fipImage& picture);

} // namespace QXLayoutPicture
