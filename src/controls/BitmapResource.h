#pragma once

#include <QImage>
#include <QString>

namespace melvora {

// The program's pictures, compiled into melvora_controls from
// resources/images.qrc and addressed by numeric id.
namespace BitmapId {
inline constexpr int AppIcon = 266;
inline constexpr int OpenFolderNormal = 268;
inline constexpr int StartNormal = 295;
inline constexpr int BrowseNormal = 335;
inline constexpr int BrowseHover = 336;
inline constexpr int OpenFolderHover = 337;
inline constexpr int StartHover = 338;
} // namespace BitmapId

// Resource path of picture id, e.g. ":/images/268.png". Usable with QIcon,
// QPixmap and QImage; the path exists only for the ids above.
QString bitmapResource(int id);

// The picture of id; a null image when there is none.
QImage loadBitmap(int id);

} // namespace melvora
