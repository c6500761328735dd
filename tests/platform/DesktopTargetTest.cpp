#include "platform/DesktopTarget.h"
#include "platform/OpenResult.h"
#include "platform/QtDesktop.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace melvora {
namespace {

// Rows name their paths relative to a fresh folder, written "{tmp}".
struct TargetCase {
    std::string name;
    QString target;
    QString expectedUrl; // empty: not openable
    int expectedFailure = 0;
    bool local = false;
};

std::ostream &operator<<(std::ostream &out, const TargetCase &row) {
    return out << row.name;
}

class DesktopTargetTest : public ::testing::TestWithParam<TargetCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.isValid());
        ASSERT_TRUE(QDir(m_folder.path()).mkpath(QStringLiteral("out folder")));
        QFile file(m_folder.filePath(QStringLiteral("out folder/clip.mp4")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        m_previousCurrent = QDir::currentPath();
        QDir::setCurrent(m_folder.path());
    }
    void TearDown() override { QDir::setCurrent(m_previousCurrent); }

    QString expand(const QString &text) const {
        QString expanded = text;
        return expanded.replace(QStringLiteral("{tmp}"), m_folder.path());
    }

    QTemporaryDir m_folder;
    QString m_previousCurrent;
};

TEST_P(DesktopTargetTest, ResolvesTheTarget) {
    const TargetCase &row = GetParam();
    const DesktopTarget resolved = resolveDesktopTarget(expand(row.target));
    if (row.expectedUrl.isEmpty()) {
        EXPECT_FALSE(resolved.isOpenable()) << resolved.url.toString().toStdString();
        EXPECT_EQ(resolved.failureCode, row.expectedFailure);
        // The real desktop reports the same failure without launching anything.
        QtDesktop real;
        EXPECT_EQ(real.openInDesktop(expand(row.target)), row.expectedFailure);
        return;
    }
    ASSERT_TRUE(resolved.isOpenable()) << "failure " << resolved.failureCode;
    EXPECT_EQ(resolved.url.toString(), expand(row.expectedUrl));
    EXPECT_EQ(resolved.isLocalFile, row.local);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DesktopTargetTest,
    ::testing::Values(
        TargetCase{"empty", QString(), {}, OpenResult::FileNotFound},
        TargetCase{"blank", QStringLiteral("   "), {}, OpenResult::FileNotFound},
        TargetCase{"existing_folder", QStringLiteral("{tmp}/out folder"), QStringLiteral("file://{tmp}/out folder"), 0,
                   true},
        TargetCase{"existing_file", QStringLiteral("{tmp}/out folder/clip.mp4"),
                   QStringLiteral("file://{tmp}/out folder/clip.mp4"), 0, true},
        TargetCase{"relative_to_working_folder", QStringLiteral("out folder"),
                   QStringLiteral("file://{tmp}/out folder"), 0, true},
        TargetCase{"missing_file_in_existing_folder",
                   QStringLiteral("{tmp}/out folder/gone.mp4"),
                   {},
                   OpenResult::FileNotFound},
        TargetCase{"missing_folder", QStringLiteral("{tmp}/nowhere/gone.mp4"), {}, OpenResult::PathNotFound},
        TargetCase{"file_url_to_existing_folder", QStringLiteral("file://{tmp}/out%20folder"),
                   QStringLiteral("file://{tmp}/out folder"), 0, true},
        TargetCase{
            "file_url_to_missing_folder", QStringLiteral("file://{tmp}/nowhere/x"), {}, OpenResult::PathNotFound},
        TargetCase{"web_address", QStringLiteral(" https://example.org/more?x=1 "),
                   QStringLiteral("https://example.org/more?x=1")},
        TargetCase{"mail_address", QStringLiteral("mailto:someone@example.org"),
                   QStringLiteral("mailto:someone@example.org")},
        TargetCase{"www_without_scheme", QStringLiteral("www.example.org/tools"),
                   QStringLiteral("http://www.example.org/tools")},
        TargetCase{"broken_address", QStringLiteral("http://exa mple.org"), {}, OpenResult::FileNotFound}),
    [](const auto &info) { return info.param.name; });

TEST(DesktopTargetAccess, UnreadableFolderIsAccessDenied) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every folder";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString locked = folder.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkdir(locked));
    ASSERT_TRUE(QFile::setPermissions(locked, QFileDevice::WriteOwner));
    const DesktopTarget resolved = resolveDesktopTarget(locked);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    EXPECT_FALSE(resolved.isOpenable());
    EXPECT_EQ(resolved.failureCode, OpenResult::AccessDenied);
}

} // namespace
} // namespace melvora
