// Fonts given as face, height and average character width in pixels, as the window templates
// name them. The face is substituted by the font system when missing; the width is honoured by
// stretching, so that a text fits the room its label was given.
#pragma once

#include <QFont>
#include <QString>

QFont LogicalFont(const QString& face, int heightPx, int averageWidthPx);
