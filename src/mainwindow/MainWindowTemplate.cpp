#include "mainwindow/MainWindowTemplate.h"

#include "config/LanguageKeys.h"

#include <array>

namespace melvora {
namespace {

using Kind = MainWindowTemplate::Kind;
namespace captions = languagekeys::captions;

const std::array<MainWindowTemplate::Control, 15> templateControls{{
    {0, Kind::GroupBox, QRect(6, 0, 350, 38), "添加视频流文件", "videoGroup", &captions::videoGroup},
    {1290, Kind::Edit, QRect(8, 13, 297, 14), "", nullptr},
    {1288, Kind::PushButton, QRect(306, 13, 49, 14), "添加视频文件", nullptr, &captions::addVideo},
    {0, Kind::GroupBox, QRect(6, 46, 350, 40), "添加音频流文件", "musicGroup", &captions::musicGroup},
    {1292, Kind::Edit, QRect(8, 63, 297, 14), "", nullptr},
    {1289, Kind::PushButton, QRect(307, 62, 49, 14), "添加音频文件", nullptr, &captions::addMusic},
    {0, Kind::StaticText, QRect(6, 100, 169, 12), "第一步：点击添加视频文件按钮加入视频文件 ", "stepHint1", &captions::step1},
    {0, Kind::StaticText, QRect(6, 120, 154, 8), "第二步：点击添加音频文件按钮加入音频文件", "stepHint2", &captions::step2},
    {0, Kind::StaticText, QRect(6, 140, 149, 8), "第三步：点击开始按钮", "stepHint3", &captions::step3},
    {1180, Kind::HyperLink, QRect(232, 116, 124, 8), "", nullptr},
    {1099, Kind::BitmapButton, QRect(306, 144, 50, 54), "Merge", nullptr, &captions::start},
    {1276, Kind::StaticText, QRect(6, 167, 31, 10), "输出目录", nullptr, &captions::outputFolder},
    {1077, Kind::ComboBox, QRect(40, 165, 169, 12), "", nullptr},
    {1076, Kind::BitmapButton, QRect(210, 161, 36, 17), "浏览", nullptr, &captions::browse},
    {1286, Kind::BitmapButton, QRect(246, 161, 57, 17), "打开目录", nullptr, &captions::openFolder},
}};

} // namespace

std::span<const MainWindowTemplate::Control> MainWindowTemplate::controls() {
    return templateControls;
}

} // namespace melvora
