#include "app/CTonvexApp.h"
#include "controls/BitmapResource.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(QIcon(melvora::bitmapResource(melvora::BitmapId::AppIcon)));
    melvora::CTonvexApp app;
    return app.run();
}
