#include "controls/BitmapResource.h"

#include <QtGlobal>

// Referencing the initialiser keeps the linker from dropping the compiled
// resources out of the static library.
static void initImageResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(images);
        return true;
    }();
    Q_UNUSED(done);
}

namespace melvora {

QString bitmapResource(int id) {
    initImageResources();
    return QStringLiteral(":/images/%1.png").arg(id);
}

QImage loadBitmap(int id) {
    return QImage(bitmapResource(id));
}

} // namespace melvora
