#pragma once

#include <QImage>
#include <QRegion>

#include <optional>

namespace melvora {

// The shape of a picture: every pixel that is not pure white (255, 255, 255)
// and not fully transparent, in the picture's own coordinates. std::nullopt
// for a null picture; an all-white picture gives an empty region.
std::optional<QRegion> BuildBitmapRegion(const QImage &bitmap);

} // namespace melvora
