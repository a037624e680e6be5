// Skin pictures mark their see-through pixels with a key colour: the colour of the picture's own
// top-left pixel.
#pragma once

#include <QImage>

// A copy of the picture in which every pixel of exactly the key colour is fully transparent and
// every other pixel fully opaque. Built once per loaded picture, not per paint. A null picture
// gives a null result.
QImage KeyedImage(const QImage& picture);
