#include "config/IniDocument.h"

#include "TempFolder.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace std::string_literals;
using test::utf16le;

struct ReadCase {
    const char *name;
    std::string file;
    const char *section;
    const char *key;
    std::optional<std::string> expected;
};
void PrintTo(const ReadCase &c, std::ostream *os) { *os << c.name; }

class IniReadTest : public testing::TestWithParam<ReadCase> {};

TEST_P(IniReadTest, ReadsValueAsWindowsIniCallsDo) {
    const ReadCase &c = GetParam();
    EXPECT_EQ(IniDocument(c.file).value(c.section, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, IniReadTest,
    testing::Values(ReadCase{"plain", "[PATH]\nname=/videos\n", "PATH", "name", "/videos"},
                    ReadCase{"caseInsensitive", "[path]\nNAME=/videos\n", "PATH", "name", "/videos"},
                    ReadCase{"blanksTrimmed", "  [ DIR ]  \n\t open \t=  1 \t\n", "DIR", "open", "1"},
                    ReadCase{"doubleQuotesStripped", "[A]\nk=\"  spaced  \"\n", "A", "k", "  spaced  "},
                    ReadCase{"singleQuotesStripped", "[A]\nk='x'\n", "A", "k", "x"},
                    ReadCase{"unmatchedQuoteKept", "[A]\nk=\"x'\n", "A", "k", "\"x'"},
                    ReadCase{"equalsInValue", "[A]\nk=a=b\n", "A", "k", "a=b"},
                    ReadCase{"presentButEmpty", "[A]\nk=\n", "A", "k", ""},
                    ReadCase{"missingKey", "[A]\nother=1\n", "A", "k", std::nullopt},
                    ReadCase{"missingSection", "[B]\nk=1\n", "A", "k", std::nullopt},
                    ReadCase{"keyBeforeAnySection", "k=1\n[A]\n", "A", "k", std::nullopt},
                    ReadCase{"commentIsNoKey", "[A]\n;k=1\n#k=2\n", "A", "k", std::nullopt},
                    ReadCase{"firstDuplicateWins", "[A]\nk=1\nk=2\n", "A", "k", "1"},
                    ReadCase{"duplicateSectionsMerge", "[A]\nx=0\n[B]\n[a]\nk=2\n", "A", "k", "2"},
                    ReadCase{"brokenHeaderHidesItsKeys", "[A]\n[broken\nk=1\n", "A", "k", std::nullopt},
                    ReadCase{"crlfLines", "[A]\r\nk=1\r\nz=2\r\n", "A", "z", "2"},
                    ReadCase{"loneCrLines", "[A]\rk=1\rz=2", "A", "z", "2"},
                    ReadCase{"nulDoesNotEndFile", "[A]\nx=\0\nk=1\n"s, "A", "k", "1"},
                    ReadCase{"utf8BomRead", "\xEF\xBB\xBF[A]\nk=\xE4\xB8\xAD\n", "A", "k", "\xE4\xB8\xAD"},
                    ReadCase{"utf16LeBom", "\xFF\xFE" + utf16le(u"[A]\r\nk=\u4E2D\u6587\r\n"), "A", "k",
                             "\xE4\xB8\xAD\xE6\x96\x87"},
                    ReadCase{"utf16LeSurrogatePair", "\xFF\xFE" + utf16le(u"[A]\nk=\U0001F3B5\n"), "A", "k",
                             "\xF0\x9F\x8E\xB5"},
                    ReadCase{"utf16BeBom", "\xFE\xFF\0[\0A\0]\0\n\0k\0=\0z"s, "A", "k", "z"}),
    [](const auto &info) { return std::string(info.param.name); });

struct CutCase {
    const char *name;
    std::string character;
    std::size_t repeat;
    std::size_t expectedCharacters;
};
void PrintTo(const CutCase &c, std::ostream *os) { *os << c.name; }

class IniValueCutTest : public testing::TestWithParam<CutCase> {};

TEST_P(IniValueCutTest, LongValuesArriveCutTo999Units) {
    const CutCase &c = GetParam();
    std::string value;
    for (std::size_t i = 0; i < c.repeat; ++i)
        value += c.character;
    std::string expected;
    for (std::size_t i = 0; i < c.expectedCharacters; ++i)
        expected += c.character;
    EXPECT_EQ(IniDocument("[A]\nk=" + value + "\n").value("A", "k"), expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, IniValueCutTest,
                         testing::Values(CutCase{"exactly999", "a", 999, 999}, CutCase{"ascii", "a", 1500, 999},
                                         CutCase{"cjk", "\xE4\xB8\xAD", 1200, 999},
                                         // four-byte characters take two units: never split one
                                         CutCase{"astral", "\xF0\x9F\x8E\xB5", 600, 499}),
                         [](const auto &info) { return std::string(info.param.name); });

struct WriteCase {
    const char *name;
    std::string before;
    const char *section;
    const char *key;
    const char *value;
    std::string after;
};
void PrintTo(const WriteCase &c, std::ostream *os) { *os << c.name; }

class IniWriteTest : public testing::TestWithParam<WriteCase> {};

TEST_P(IniWriteTest, ChangesOnlyTheKeysLine) {
    const WriteCase &c = GetParam();
    IniDocument document(c.before);
    std::string error;
    ASSERT_TRUE(document.setValue(c.section, c.key, c.value, &error)) << error;
    EXPECT_EQ(document.bytes(), c.after);
    EXPECT_EQ(document.value(c.section, c.key), IniDocument(c.after).value(c.section, c.key));
}

INSTANTIATE_TEST_SUITE_P(
    InPlace, IniWriteTest,
    testing::Values(
        WriteCase{"replaceKeepsLayout", "; top\n\n[A]\n  k = old  \n\nodd line\nz=1\n", "A", "k", "new",
                  "; top\n\n[A]\n  k = new\n\nodd line\nz=1\n"},
        WriteCase{"replaceKeepsStoredSpelling", "[join]\nSIZE=3\n", "JOIN", "size", "-1", "[join]\nSIZE=-1\n"},
        WriteCase{"onlyFirstDuplicateReplaced", "[A]\nk=1\nk=2\n", "A", "k", "9", "[A]\nk=9\nk=2\n"},
        WriteCase{"emptyValue", "[A]\nk=1\n", "A", "k", "", "[A]\nk=\n"},
        WriteCase{"addKeyAfterLastKeyOfSection", "[A]\nx=1\n\n; about B\n[B]\ny=2\n", "A", "k", "v",
                  "[A]\nx=1\nk=v\n\n; about B\n[B]\ny=2\n"},
        WriteCase{"addKeyToEmptySection", "[A]\n[B]\ny=2\n", "A", "k", "v", "[A]\nk=v\n[B]\ny=2\n"},
        WriteCase{"addKeyToFirstOfDuplicateSections", "[A]\nx=1\n[A]\ny=2\n", "A", "k", "v",
                  "[A]\nx=1\nk=v\n[A]\ny=2\n"},
        WriteCase{"addKeyAfterLastLineWithoutBreak", "[A]\nx=1", "A", "k", "v", "[A]\nx=1\nk=v\n"},
        WriteCase{"addSectionAfterBlankLine", "[A]\nx=1", "B", "k", "v", "[A]\nx=1\n\n[B]\nk=v\n"},
        WriteCase{"addSectionToEmptyFile", "", "B", "k", "v", "[B]\nk=v\n"},
        WriteCase{"keyUnderBrokenHeaderLeftAlone", "[A]\n[broken\nk=1\n", "A", "k", "2", "[A]\nk=2\n[broken\nk=1\n"},
        WriteCase{"crlfKept", "[A]\r\nx=1\r\n", "A", "k", "v", "[A]\r\nx=1\r\nk=v\r\n"},
        WriteCase{"utf8BomKept", "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "\xE4\xB8\xAD",
                  "\xEF\xBB\xBF[A]\nk=\xE4\xB8\xAD\n"},
        WriteCase{"utf16LeCrlfKept", "\xFF\xFE" + utf16le(u"; \u8BF4\u660E\r\n[A]\r\nk = 1\r\n\r\n[B]\r\ny=\u4E2D\r\n"),
                  "A", "k", "\u6587",
                  "\xFF\xFE" + utf16le(u"; \u8BF4\u660E\r\n[A]\r\nk = \u6587\r\n\r\n[B]\r\ny=\u4E2D\r\n")},
        WriteCase{"utf16LeNewSection", "\xFF\xFE" + utf16le(u"[A]\r\nk=1\r\n"), "JOIN", "size", "0",
                  "\xFF\xFE" + utf16le(u"[A]\r\nk=1\r\n\r\n[JOIN]\r\nsize=0\r\n")}),
    [](const auto &info) { return std::string(info.param.name); });

struct RefusedCase {
    const char *name;
    std::string before;
    const char *section;
    const char *key;
    const char *value;
};
void PrintTo(const RefusedCase &c, std::ostream *os) { *os << c.name; }

class IniRefusedWriteTest : public testing::TestWithParam<RefusedCase> {};

TEST_P(IniRefusedWriteTest, LeavesDocumentUnchanged) {
    const RefusedCase &c = GetParam();
    IniDocument document(c.before);
    std::string error;
    EXPECT_FALSE(document.setValue(c.section, c.key, c.value, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(document.bytes(), c.before);
}

INSTANTIATE_TEST_SUITE_P(Unsafe, IniRefusedWriteTest,
                         testing::Values(RefusedCase{"valueInjectsLines", "[PATH]\nname=a\n", "PATH", "name",
                                                     "/x\n[LANGUAGE]\nfile=evil"},
                                         RefusedCase{"valueWithCarriageReturn", "[A]\n", "A", "k", "a\rb"},
                                         RefusedCase{"keyWithEquals", "[A]\n", "A", "k=x", "v"},
                                         RefusedCase{"keyLooksLikeComment", "[A]\n", "A", ";k", "v"},
                                         RefusedCase{"emptyKey", "[A]\n", "A", "", "v"},
                                         RefusedCase{"sectionWithBracket", "[A]\n", "A]x", "k", "v"},
                                         RefusedCase{"utf16CutInHalf", "\xFF\xFE[\0A\0]\0\n"s, "A", "k", "v"},
                                         // the reader joins "[" and "A]" across the line break; a value stored in a
                                         // new [A] would not be the one read back, so nothing is stored
                                         RefusedCase{"readerWouldSeeOtherValue", "[\nA]\nk=1\n", "A", "k", "2"}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace melvora
