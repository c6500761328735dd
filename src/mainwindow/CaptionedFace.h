#pragma once

#include <QImage>
#include <QString>

namespace melvora {

// A picture button's face with a caption of the user's language: the face
// without its text (resources/images/blank), with the caption written where
// and as the picture's own text is, in a smaller size when it would not fit.
// A null image for an id that has no blank face.
QImage captionedFace(int bitmapId, const QString &caption);

} // namespace melvora
