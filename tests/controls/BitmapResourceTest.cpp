#include "controls/BitmapResource.h"
#include "controls/BitmapRegion.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace melvora {
namespace {

struct PictureCase {
    int id;
    QSize size;
    bool cutToShape; // white outside a rounded bar; otherwise no white at all
    int sameShapeAs; // the normal face whose region the hover face must fit
};

std::ostream &operator<<(std::ostream &out, const PictureCase &row) {
    return out << row.id;
}

const PictureCase faces[] = {
    {BitmapId::StartNormal, {90, 93}, false, BitmapId::StartNormal},
    {BitmapId::StartHover, {90, 93}, false, BitmapId::StartNormal},
    {BitmapId::BrowseNormal, {65, 35}, true, BitmapId::BrowseNormal},
    {BitmapId::BrowseHover, {65, 35}, true, BitmapId::BrowseNormal},
    {BitmapId::OpenFolderNormal, {96, 35}, true, BitmapId::OpenFolderNormal},
    {BitmapId::OpenFolderHover, {96, 35}, true, BitmapId::OpenFolderNormal},
};

// Checks one picture of a set; load gives the picture of an id.
void checkFace(const PictureCase &row, const std::function<QImage(int)> &load) {
    const QImage picture = load(row.id);
    ASSERT_FALSE(picture.isNull()) << row.id;
    EXPECT_EQ(picture.size(), row.size);
    const std::optional<QRegion> region = BuildBitmapRegion(picture);
    ASSERT_TRUE(region.has_value());
    const QRect whole(QPoint(0, 0), row.size);
    if (row.cutToShape) {
        for (const QPoint corner : {whole.topLeft(), whole.topRight(), whole.bottomLeft(), whole.bottomRight()})
            EXPECT_FALSE(region->contains(corner)) << row.id << " corner " << corner.x() << "," << corner.y();
        // Only the rounded corners go: the bar reaches every edge.
        EXPECT_EQ(region->boundingRect(), whole);
        EXPECT_TRUE(region->contains(QRect(6, 6, row.size.width() - 12, row.size.height() - 12)));
    } else {
        EXPECT_TRUE((*region ^ QRegion(whole)).isEmpty()) << row.id << " has pure white pixels";
    }
    const std::optional<QRegion> normalShape = BuildBitmapRegion(load(row.sameShapeAs));
    ASSERT_TRUE(normalShape.has_value());
    EXPECT_TRUE((*region ^ *normalShape).isEmpty()) << row.id << " differs in shape from " << row.sameShapeAs;
}

class BitmapResourceTest : public ::testing::TestWithParam<PictureCase> {};

TEST_P(BitmapResourceTest, CommittedFaceHasItsSizeAndShape) {
    checkFace(GetParam(), loadBitmap);
}

INSTANTIATE_TEST_SUITE_P(Faces, BitmapResourceTest, ::testing::ValuesIn(faces),
                         [](const auto &info) { return std::to_string(info.param.id); });

TEST(BitmapResource, IconAndPathsByNumericId) {
    EXPECT_EQ(bitmapResource(BitmapId::OpenFolderNormal), QStringLiteral(":/images/268.png"));
    const QImage icon = loadBitmap(BitmapId::AppIcon);
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.width(), icon.height());
    EXPECT_GE(icon.width(), 128);
    EXPECT_TRUE(loadBitmap(4242).isNull());
}

TEST(BitmapResource, GeneratorDrawsFacesOfTheCommittedSizesAndShapes) {
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    QProcess generator;
    generator.start(QStringLiteral(MELVORA_IMAGE_GENERATOR), {out.path()});
    ASSERT_TRUE(generator.waitForFinished(60000));
    ASSERT_EQ(generator.exitCode(), 0) << generator.readAllStandardError().toStdString();
    const auto generated = [&](int id) { return QImage(out.filePath(QStringLiteral("%1.png").arg(id))); };
    for (const PictureCase &row : faces) {
        checkFace(row, generated);
        const std::optional<QRegion> committed = BuildBitmapRegion(loadBitmap(row.id));
        const std::optional<QRegion> drawn = BuildBitmapRegion(generated(row.id));
        ASSERT_TRUE(committed && drawn);
        EXPECT_TRUE((*committed ^ *drawn).isEmpty()) << row.id;
    }
    EXPECT_EQ(generated(BitmapId::AppIcon).size(), loadBitmap(BitmapId::AppIcon).size());
}

} // namespace
} // namespace melvora
