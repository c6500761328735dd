#include "ControlTesting.h"

#include "controls/CHyperLink.h"
#include "platform/ScriptedDesktop.h"

#include <gtest/gtest.h>

namespace melvora {
namespace {

using namespace melvora::testing;

const QString address = QStringLiteral("https://example.org/more-tools");

QFont linkFont() {
    QFont font;
    font.setPixelSize(16);
    return font;
}

// A link on a plain white window, placed and fitted the way the main window does it.
struct LinkOnWindow {
    QWidget window;
    CHyperLink *link = new CHyperLink(QStringLiteral("More tools on our site"), &window);

    LinkOnWindow() {
        window.resize(400, 120);
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, Qt::white);
        window.setPalette(palette);
        window.setAutoFillBackground(true);
        link->setFont(linkFont());
        link->move(20, 20);
        link->attach();
        link->SetURL(address);
    }
};

int pixelsOf(const QImage &image, const QColor &colour) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == colour;
    return count;
}

// True when some row holds a line of the colour across most of the image.
bool hasUnderline(const QImage &image, const QColor &colour) {
    for (int y = 0; y < image.height(); ++y) {
        int run = 0;
        for (int x = 0; x < image.width(); ++x)
            run += image.pixelColor(x, y) == colour;
        if (run > image.width() * 8 / 10)
            return true;
    }
    return false;
}

TEST(CHyperLink, ColoursFollowPointerAndSuccessfulClick) {
    ScriptedDesktop scripted;
    LinkOnWindow on;
    CHyperLink *link = on.link;
    const QPoint inside(5, 5);

    struct Step {
        const char *what;
        std::function<void()> act;
        QColor colour;
    };
    const Step steps[] = {
        {"at rest", [] {}, QColor(0, 0, 238)},
        {"pointer moves over it", [&] { sendMouse(link, QEvent::MouseMove, inside); }, QColor(255, 0, 0)},
        {"clicked", [&] { click(link, inside); }, QColor(85, 26, 139)},
        {"pointer moves again", [&] { sendMouse(link, QEvent::MouseMove, inside); }, QColor(255, 0, 0)},
        {"pointer leaves", [&] { sendLeave(link); }, QColor(85, 26, 139)},
    };
    for (const Step &step : steps) {
        step.act();
        EXPECT_EQ(link->currentColour(), step.colour) << step.what;
        EXPECT_GT(pixelsOf(rendered(link), step.colour), 0) << step.what;
    }
    EXPECT_TRUE(link->isVisited());
    EXPECT_EQ(scripted.openedTargets(), QStringList{address});
    EXPECT_TRUE(scripted.messages().empty());
    EXPECT_EQ(scripted.beeps(), 0);
}

struct UnderlineCase {
    int mode;
    bool over;
    bool underlined;
};

std::ostream &operator<<(std::ostream &out, const UnderlineCase &row) {
    return out << "mode " << row.mode << (row.over ? " over" : " away");
}

class CHyperLinkUnderline : public ::testing::TestWithParam<UnderlineCase> {};

TEST_P(CHyperLinkUnderline, UnderlineFollowsModeAndPointer) {
    ScriptedDesktop scripted;
    LinkOnWindow on;
    on.link->SetUnderline(GetParam().mode);
    sendMouse(on.link, QEvent::MouseMove, {5, 5});
    if (!GetParam().over)
        sendLeave(on.link);
    EXPECT_EQ(on.link->isUnderlined(), GetParam().underlined);
    EXPECT_EQ(hasUnderline(rendered(on.link), on.link->currentColour()), GetParam().underlined);
}

INSTANTIATE_TEST_SUITE_P(Modes, CHyperLinkUnderline,
                         ::testing::Values(UnderlineCase{CHyperLink::UnderlineAlways, true, true},
                                           UnderlineCase{CHyperLink::UnderlineAlways, false, true},
                                           UnderlineCase{CHyperLink::UnderlineNever, true, false},
                                           UnderlineCase{CHyperLink::UnderlineNever, false, false},
                                           UnderlineCase{CHyperLink::UnderlineHover, true, true},
                                           UnderlineCase{CHyperLink::UnderlineHover, false, false}));

struct FailureCase {
    int code;
    QString reason;
};

std::ostream &operator<<(std::ostream &out, const FailureCase &row) {
    return out << "code " << row.code;
}

class CHyperLinkFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CHyperLinkFailure, FailedOpenBeepsAndReportsTheCause) {
    ScriptedDesktop scripted;
    scripted.queueOpenResult(GetParam().code);
    LinkOnWindow on;
    click(on.link, {5, 5});

    ASSERT_EQ(scripted.messages().size(), 1u);
    const ScriptedDesktop::Message &message = scripted.messages().front();
    EXPECT_EQ(message.text, QStringLiteral("Unable to open hyperlink:\n\n") + GetParam().reason);
    EXPECT_EQ(message.icon, MessageIcon::Exclamation);
    EXPECT_EQ(message.caption, applicationTitle());
    EXPECT_EQ(scripted.beeps(), 1);
    EXPECT_FALSE(on.link->isVisited());
    EXPECT_EQ(on.link->currentColour(), on.link->linkColour());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CHyperLinkFailure,
    ::testing::Values(
        FailureCase{OpenResult::OutOfResources, QStringLiteral("The operating system is out\nof memory or resources.")},
        FailureCase{OpenResult::FileNotFound, QStringLiteral("The specified file was not found.")},
        FailureCase{OpenResult::PathNotFound, QStringLiteral("The specified path was not found.")},
        FailureCase{OpenResult::AccessDenied,
                    QStringLiteral("The operating system denied\naccess to the specified file.")},
        FailureCase{OpenResult::OutOfMemory, QStringLiteral("There was not enough memory to complete the operation.")},
        FailureCase{OpenResult::BadFormat,
                    QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).")},
        FailureCase{OpenResult::SharingViolation, QStringLiteral("A sharing violation occurred. ")},
        FailureCase{OpenResult::AssociationIncomplete,
                    QStringLiteral("The filename association is\nincomplete or invalid.")},
        FailureCase{OpenResult::DdeTimeout,
                    QStringLiteral("The DDE transaction could not\nbe completed because the request timed out.")},
        FailureCase{OpenResult::DdeFailed, QStringLiteral("The DDE transaction failed.")},
        FailureCase{OpenResult::DdeBusy, QStringLiteral("The DDE transaction could not\nbe completed because other "
                                                        "DDE transactions\nwere being processed.")},
        FailureCase{OpenResult::NoAssociation,
                    QStringLiteral("There is no application associated\nwith the given filename extension.")},
        FailureCase{OpenResult::DllNotFound, QStringLiteral("The specified dynamic-link library was not found.")},
        FailureCase{1, QStringLiteral("Unknown Error (1) occurred.")},
        FailureCase{25, QStringLiteral("Unknown Error (25) occurred.")},
        FailureCase{-7, QStringLiteral("Unknown Error (-7) occurred.")}));

TEST(CHyperLink, AttachFillsTextAndAddressFromEachOther) {
    ScriptedDesktop scripted;
    CHyperLink empty;
    empty.SetURL(address);
    empty.attach();
    EXPECT_EQ(empty.text(), address);
    EXPECT_EQ(empty.toolTip(), address);

    CHyperLink textOnly(QStringLiteral("https://example.org/"));
    textOnly.attach();
    EXPECT_EQ(textOnly.url(), QStringLiteral("https://example.org/"));
    click(&textOnly, {2, 2});
    EXPECT_EQ(scripted.openedTargets(), QStringList{QStringLiteral("https://example.org/")});
}

TEST(CHyperLink, EmptyAddressIsHandedOnAndItsFailureReported) {
    ScriptedDesktop scripted;
    scripted.queueOpenResult(OpenResult::FileNotFound);
    CHyperLink link(QStringLiteral("x"));
    link.resize(30, 20);
    link.SetURL(QString());
    click(&link, {2, 2});
    EXPECT_EQ(scripted.openedTargets(), QStringList{QString()});
    ASSERT_EQ(scripted.messages().size(), 1u);
    EXPECT_TRUE(link.toolTip().isEmpty());
}

struct FitCase {
    std::string name;
    Qt::Alignment alignment;
    // Which edge stays: -1 left/top, 0 centre, 1 right/bottom-from-top
    int horizontalAnchor;
    bool verticalCentre;
};

std::ostream &operator<<(std::ostream &out, const FitCase &row) {
    return out << row.name;
}

class CHyperLinkFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(CHyperLinkFit, FittingKeepsTheEdgeItsAlignmentNames) {
    const FitCase &row = GetParam();
    QWidget window;
    auto *link = new CHyperLink(QStringLiteral("Short"), &window);
    link->setFont(linkFont());
    link->setAlignment(row.alignment);
    const QRect start(100, 40, 300, 60);
    for (const QString &text : {QStringLiteral("Short"), QStringLiteral("A much longer link text than before")}) {
        link->setGeometry(start);
        link->setText(text);
        link->fitToText();
        const QRect fitted = link->geometry();
        const QSize measured = link->sizeHint();
        // Centring shrinks both sides by half the difference, rounded
        // toward zero, so an odd difference leaves one spare pixel.
        EXPECT_GE(fitted.width(), measured.width()) << text.toStdString();
        EXPECT_LE(fitted.width(), measured.width() + (row.horizontalAnchor == 0 ? 1 : 0)) << text.toStdString();
        if (row.horizontalAnchor < 0)
            EXPECT_EQ(fitted.left(), start.left());
        else if (row.horizontalAnchor > 0)
            EXPECT_EQ(fitted.right(), start.right());
        else
            EXPECT_LE(std::abs(fitted.center().x() - start.center().x()), 1);
        if (row.verticalCentre) {
            EXPECT_GE(fitted.height(), measured.height());
            EXPECT_LE(fitted.height(), measured.height() + 1);
            EXPECT_LE(std::abs(fitted.center().y() - start.center().y()), 1);
        } else {
            EXPECT_EQ(fitted.top(), start.top());
            EXPECT_EQ(fitted.height(), measured.height());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Alignments, CHyperLinkFit,
                         ::testing::Values(FitCase{"left_top", Qt::AlignLeft | Qt::AlignTop, -1, false},
                                           FitCase{"right_top", Qt::AlignRight | Qt::AlignTop, 1, false},
                                           FitCase{"centre_top", Qt::AlignHCenter | Qt::AlignTop, 0, false},
                                           FitCase{"left_middle", Qt::AlignLeft | Qt::AlignVCenter, -1, true},
                                           FitCase{"centred", Qt::AlignCenter, 0, true}),
                         [](const auto &info) { return info.param.name; });

} // namespace
} // namespace melvora
