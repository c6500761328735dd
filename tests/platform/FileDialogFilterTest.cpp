#include "platform/FileDialogFilter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace melvora {
namespace {

struct FilterCase {
    std::string name;
    QString barText;
    QStringList expected;
};

std::ostream &operator<<(std::ostream &out, const FilterCase &row) {
    return out << row.name;
}

class FileDialogFilterTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(FileDialogFilterTest, TranslatesBarTextIntoQtFilters) {
    const FilterCase &row = GetParam();
    EXPECT_EQ(qtFileFilters(row.barText), row.expected);
    EXPECT_EQ(qtFileFilterString(row.barText), row.expected.join(QStringLiteral(";;")));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FileDialogFilterTest,
    ::testing::Values(
        FilterCase{"media_then_all_files",
                   QStringLiteral("视频文件|*.rm;*.rmvb;*.mp4|所有文件|*.*|"),
                   {QStringLiteral("视频文件 (*.rm *.rmvb *.mp4)"), QStringLiteral("所有文件 (*)")}},
        FilterCase{"empty_first_name_gives_no_filter", QStringLiteral("|*.mp4|所有文件|*.*|"), {}},
        FilterCase{"empty_second_name_keeps_only_the_first",
                   QStringLiteral("Audio|*.mp3;*.wav||*.*|"),
                   {QStringLiteral("Audio (*.mp3 *.wav)")}},
        FilterCase{"empty_text", QString(), {}},
        FilterCase{"without_closing_bar", QStringLiteral("Video|*.mp4"), {QStringLiteral("Video (*.mp4)")}},
        FilterCase{
            "name_without_patterns_is_dropped", QStringLiteral("Video|*.mp4|All"), {QStringLiteral("Video (*.mp4)")}},
        FilterCase{"empty_pattern_list_ends_the_list", QStringLiteral("Video||All|*.*|"), {}},
        FilterCase{
            "blank_and_empty_patterns_are_skipped", QStringLiteral("A| *.a ; ;*.b;|"), {QStringLiteral("A (*.a *.b)")}},
        FilterCase{"patterns_that_are_all_blank_end_the_list", QStringLiteral("A| ; |B|*.b|"), {}},
        FilterCase{"name_with_spaces_and_parentheses",
                   QStringLiteral("Media (all kinds)|*.mkv|"),
                   {QStringLiteral("Media (all kinds) (*.mkv)")}}),
    [](const auto &info) { return info.param.name; });

} // namespace
} // namespace melvora
