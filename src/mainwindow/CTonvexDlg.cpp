#include "mainwindow/CTonvexDlg.h"

#include "config/LanguageChoice.h"
#include "config/LanguageKeys.h"
#include "config/LanguageTexts.h"
#include "config/MixSettingsStore.h"
#include "config/SettingKeys.h"
#include "config/Settings.h"
#include "controls/BitmapResource.h"
#include "controls/CControlButton.h"
#include "controls/CHyperLink.h"
#include "engine/MixJob.h"
#include "mainwindow/CaptionedFace.h"
#include "mainwindow/MainWindowActions.h"
#include "mainwindow/MainWindowTemplate.h"
#include "mainwindow/MixSettingsDlg.h"
#include "mainwindow/OutputFolderBox.h"
#include "platform/DesktopTarget.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QWindow>

namespace melvora {
namespace {

QFont dialogFont() {
    QFont font;
    QStringList families;
    for (const char *family : MainWindowTemplate::fontFamilies)
        families << QString::fromLatin1(family);
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(MainWindowTemplate::fontPointSize);
    return font;
}

QFont linkFont() {
    QFont font(QStringLiteral("Microsoft Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(10);
    return font;
}

QString fromUtf8(const std::string &text) {
    return QString::fromStdString(text);
}

QStringList localFiles(const QMimeData *data) {
    QStringList files;
    if (!data)
        return files;
    for (const QUrl &url : data->urls()) {
        if (url.isLocalFile())
            files << url.toLocalFile();
    }
    return files;
}

bool isEnterKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

CTonvexDlg::CTonvexDlg(QWidget *parent)
    : QDialog(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_units(DialogUnits::ofFont(dialogFont())) {
    setWindowTitle(QStringLiteral("Melvora"));
    setFont(dialogFont());
    setFixedSize(m_units.toPixels(MainWindowTemplate::size));
    setSizeGripEnabled(false);
    setAcceptDrops(true);
    // Delete must never reach a control of this window, whichever has the focus.
    qApp->installEventFilter(this);
    startUp();
    m_actions = new MainWindowActions(*this);
}

CTonvexDlg::~CTonvexDlg() {
    releaseMixJob();
}

void CTonvexDlg::startUp() {
    // 1. The controls exist and show the (still empty) members.
    createControls();
    loadControlsFromMembers();
    // 2. The system menu entry of the template has no counterpart in the
    //    window managers this runs under, so there is none.
    // 3. Window icon.
    setWindowIcon(QIcon(bitmapResource(BitmapId::AppIcon)));
    // 4. Language file name and the remembered output folder. A first start
    //    takes the desktop's language.
    chooseLanguageOnFirstStart();
    m_languageFileName = Settings::readString(settingkeys::languageFile);
    const QString rememberedFolder = fromUtf8(Settings::readString(settingkeys::outputFolder));
    // 5. Tooltips are always on; only the start button gets a text (step 8).
    // 6. Background colour, behind the window, its texts, frames and buttons.
    QPalette colours = palette();
    colours.setColor(QPalette::Window, backgroundColour());
    setPalette(colours);
    setAutoFillBackground(true);
    // 7. Open the output folder after a successful job unless told otherwise.
    m_openFolderWhenDone = Settings::readString(settingkeys::openFolderWhenDone,
                                                settingkeys::openFolderWhenDoneDefault) == "1";
    // 8. Texts of the chosen language.
    ApplyLanguageTexts();
    // 9. Faces of the picture buttons, and the captions of the template's
    //    controls where the language file has them.
    applyWindowTexts();
    // 10. Both folder members start as the remembered folder.
    m_acceptedOutputFolder = rememberedFolder;
    m_outputFolder = rememberedFolder;
    m_outputFolderBox->setCurrentIndex(0);
    // 11. The box shows the folder.
    loadControlsFromMembers();
    // The hidden preset lists take their stored selections; their first
    // entries are language texts, so this comes after step 8.
    m_joinPresets.emplace();
    m_joinPresets->loadFromSettings();
    // The mix settings and their button, which comes after every control of
    // the template in the tab order.
    m_mixSettings = MixSettingsStore::load();
    createMixSettingsButton();
    createLanguageChooser();
    // 12. The keyboard starts on the start button.
    setUpTabOrder();
    m_startButton->setFocus(Qt::OtherFocusReason);
}

void CTonvexDlg::createControls() {
    for (const MainWindowTemplate::Control &entry : MainWindowTemplate::controls()) {
        const QString text = QString::fromUtf8(entry.text);
        QWidget *widget = nullptr;
        switch (entry.kind) {
        case MainWindowTemplate::Kind::GroupBox:
            widget = new QGroupBox(text, this);
            break;
        case MainWindowTemplate::Kind::Edit:
            widget = new QLineEdit(text, this);
            break;
        case MainWindowTemplate::Kind::PushButton: {
            auto *button = new QPushButton(text, this);
            // No button is the default one: Enter presses only a focused button.
            button->setAutoDefault(false);
            widget = button;
            break;
        }
        case MainWindowTemplate::Kind::StaticText:
            widget = new QLabel(text, this);
            break;
        case MainWindowTemplate::Kind::HyperLink:
            widget = new CHyperLink(text, this);
            break;
        case MainWindowTemplate::Kind::BitmapButton: {
            auto *button = new CControlButton(this);
            button->setText(text); // read by assistive tools only; the picture carries the label
            widget = button;
            break;
        }
        case MainWindowTemplate::Kind::ComboBox:
            widget = new OutputFolderBox(this);
            break;
        }
        widget->setGeometry(m_units.toPixels(entry.dialogUnits));
        if (entry.id != 0) {
            widget->setObjectName(QString::number(entry.id));
            m_controls.insert(entry.id, widget);
        } else {
            widget->setObjectName(QString::fromLatin1(entry.name));
        }
    }
    m_videoPathBox = qobject_cast<QLineEdit *>(control(VideoPathBox));
    m_musicPathBox = qobject_cast<QLineEdit *>(control(MusicPathBox));
    m_addVideoButton = qobject_cast<QPushButton *>(control(AddVideoButton));
    m_addMusicButton = qobject_cast<QPushButton *>(control(AddMusicButton));
    m_startButton = qobject_cast<CControlButton *>(control(StartButton));
    m_browseButton = qobject_cast<CControlButton *>(control(BrowseButton));
    m_openFolderButton = qobject_cast<CControlButton *>(control(OpenFolderButton));
    m_outputFolderBox = qobject_cast<OutputFolderBox *>(control(OutputFolderCombo));
    m_webLink = qobject_cast<CHyperLink *>(control(WebLink));
}

void CTonvexDlg::setUpTabOrder() {
    QWidget *const order[] = {m_startButton,    m_browseButton,   m_openFolderButton,   m_outputFolderBox,
                              m_addVideoButton, m_addMusicButton, m_videoPathBox,       m_musicPathBox,
                              m_mixSettingsButton, m_languageChooser};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void CTonvexDlg::setUpButtonFaces() {
    // The pictures carry their texts; a caption of the language file is
    // written on the same faces without them.
    const LanguageTexts &texts = LanguageTexts::instance();
    const auto setFaces = [](CControlButton *button, const QString &caption, int hover, int normal) {
        if (caption.isEmpty()) {
            button->SetBitmaps(hover, normal, normal);
            return;
        }
        const QImage normalFace = captionedFace(normal, caption);
        button->SetBitmaps(captionedFace(hover, caption), normalFace, normalFace);
    };

    m_browseButton->ApplyBitmapRegion(BitmapId::BrowseNormal);
    setFaces(m_browseButton, fromUtf8(texts.text(languagekeys::captions::browse)), BitmapId::BrowseHover,
             BitmapId::BrowseNormal);

    m_startButton->setEnabled(true);
    setFaces(m_startButton, fromUtf8(texts.text(languagekeys::captions::start)), BitmapId::StartHover,
             BitmapId::StartNormal);
    m_startButton->update();

    m_openFolderButton->ApplyBitmapRegion(BitmapId::OpenFolderNormal);
    setFaces(m_openFolderButton, fromUtf8(texts.text(languagekeys::captions::openFolder)),
             BitmapId::OpenFolderHover, BitmapId::OpenFolderNormal);
}

void CTonvexDlg::applyWindowTexts() {
    const LanguageTexts &texts = LanguageTexts::instance();
    m_startButton->setToolTip(fromUtf8(texts.text(languagekeys::startButtonTip)));
    for (const MainWindowTemplate::Control &entry : MainWindowTemplate::controls()) {
        if (!entry.caption)
            continue;
        const QString text = fromUtf8(texts.textOr(*entry.caption, entry.text));
        QWidget *widget = entry.id != 0 ? control(entry.id) : findChild<QWidget *>(QString::fromLatin1(entry.name));
        if (auto *group = qobject_cast<QGroupBox *>(widget))
            group->setTitle(text);
        else if (auto *label = qobject_cast<QLabel *>(widget))
            label->setText(text);
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            button->setText(text); // a picture button's text is read by assistive tools only
    }
    setUpButtonFaces();
    if (m_mixSettingsButton) {
        m_mixSettingsButton->setText(mixSettingsText(languagekeys::mix::button));
        updateMixSummary();
    }
    if (m_languageLabel)
        m_languageLabel->setText(fromUtf8(texts.textOr(languagekeys::captions::language, "Language:")));
}

void CTonvexDlg::updateMixSummary() {
    const QString summary = mixSettingsSummary(m_mixSettings);
    m_mixSummary->setText(m_mixSummary->fontMetrics().elidedText(summary, Qt::ElideRight, m_mixSummary->width()));
}

void CTonvexDlg::createMixSettingsButton() {
    m_mixSettingsButton = new QPushButton(mixSettingsText(languagekeys::mix::button), this);
    m_mixSettingsButton->setObjectName(QStringLiteral("mixSettingsButton"));
    m_mixSettingsButton->setAutoDefault(false);
    // The free strip at the bottom left, below the output folder row.
    m_mixSettingsButton->setGeometry(m_units.toPixels(QRect(6, 184, 100, 14)));
    connect(m_mixSettingsButton, &QPushButton::clicked, this, &CTonvexDlg::openMixSettings);
    // What is active, beside the button, up to the start button.
    m_mixSummary = new QLabel(this);
    m_mixSummary->setObjectName(QStringLiteral("mixSummary"));
    m_mixSummary->setGeometry(m_units.toPixels(QRect(110, 186, 192, 10)));
    updateMixSummary();
}

void CTonvexDlg::createLanguageChooser() {
    // The free space at the right, above the web link.
    m_languageLabel = new QLabel(this);
    m_languageLabel->setObjectName(QStringLiteral("languageLabel"));
    m_languageLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_languageLabel->setGeometry(m_units.toPixels(QRect(196, 95, 62, 12)));
    m_languageLabel->setText(fromUtf8(LanguageTexts::instance().textOr(languagekeys::captions::language, "Language:")));
    m_languageChooser = new QComboBox(this);
    m_languageChooser->setObjectName(QStringLiteral("languageChooser"));
    m_languageChooser->setGeometry(m_units.toPixels(QRect(262, 94, 94, 14)));
    fillLanguageChooser();
    connect(m_languageChooser, &QComboBox::activated, this, [this](int index) {
        chooseLanguage(m_languageChooser->itemData(index).toString().toStdString());
    });
    m_languageLabel->setBuddy(m_languageChooser);
}

void CTonvexDlg::fillLanguageChooser() {
    const QSignalBlocker quiet(m_languageChooser);
    m_languageChooser->clear();
    for (const LanguageOption &option : languageOptions())
        m_languageChooser->addItem(fromUtf8(option.name), fromUtf8(option.fileName));
    // A language file of the user's own stays choosable under its file name.
    int current = m_languageChooser->findData(fromUtf8(m_languageFileName));
    if (current < 0 && !m_languageFileName.empty()) {
        m_languageChooser->addItem(fromUtf8(m_languageFileName), fromUtf8(m_languageFileName));
        current = m_languageChooser->count() - 1;
    }
    m_languageChooser->setCurrentIndex(current);
}

void CTonvexDlg::chooseLanguage(const std::string &fileName) {
    // An unwritable settings file still gives the language for this session.
    Settings::writeString(settingkeys::languageFile, fileName);
    m_languageFileName = fileName;
    ApplyLanguageTexts();
    applyWindowTexts();
    // The hidden preset lists begin with a language text; their selections stay.
    JoinPresets presets(LanguageTexts::instance().text(languagekeys::sameAsSource));
    for (JoinList list : JoinPresets::allLists)
        presets.select(list, m_joinPresets->selection(list));
    m_joinPresets = presets;
    fillLanguageChooser();
}

void CTonvexDlg::openMixSettings() {
    MixSettingsDlg dialog(m_mixSettings, this);
    dialog.setPreviewFiles(m_videoPathBox->text(), m_musicPathBox->text());
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_mixSettings = dialog.settings();
    updateMixSummary();
    // An unwritable settings file still leaves the settings for this session.
    MixSettingsStore::save(m_mixSettings);
}

void CTonvexDlg::ApplyLanguageTexts() {
    LanguageTexts &texts = LanguageTexts::instance();
    texts.load(m_languageFileName);

    m_webLink->setText(fromUtf8(texts.text(languagekeys::linkText)));
    m_webLink->setFont(linkFont());
    m_webLink->attach();
    // The help page's address is relative to the program's data folder.
    m_webLink->SetURL(addressInDataFolder(fromUtf8(texts.text(languagekeys::applicationUrl))));
    m_webLink->SetUnderline(CHyperLink::UnderlineAlways);
    m_webLink->SetLinkCursor(QCursor(Qt::PointingHandCursor));

    setWindowTitle(fromUtf8(texts.mainWindowTitle()));
}

QWidget *CTonvexDlg::control(int id) const {
    return m_controls.value(id, nullptr);
}

MixJob &CTonvexDlg::ensureMixJob() {
    if (!m_mixJob)
        m_mixJob = std::make_unique<MixJob>();
    return *m_mixJob;
}

void CTonvexDlg::releaseMixJob() {
    if (!m_mixJob)
        return;
    // The worker uses the record until its tear-down ends: never free it under it.
    stopAndJoinMixJob(*m_mixJob);
    m_mixJob.reset();
}

void CTonvexDlg::loadControlsFromMembers() {
    m_outputFolderBox->setEditText(m_outputFolder);
}

void CTonvexDlg::readControlsIntoMembers() {
    m_outputFolder = m_outputFolderBox->currentText();
}

bool CTonvexDlg::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete &&
        watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == this)
        return true;
    return QDialog::eventFilter(watched, event);
}

void CTonvexDlg::keyPressEvent(QKeyEvent *event) {
    // Enter presses the focused button and nothing else; Escape does nothing.
    // Neither ever ends the window.
    if (isEnterKey(event->key())) {
        if (auto *button = qobject_cast<QPushButton *>(focusWidget()); button && button->isEnabled())
            button->click();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CTonvexDlg::closeEvent(QCloseEvent *event) {
    emit aboutToClose();
    releaseMixJob();
    if (m_joinPresets)
        m_joinPresets->saveToSettings();
    done(QDialog::Accepted);
    event->accept();
}

void CTonvexDlg::mousePressEvent(QMouseEvent *event) {
    // Only presses that no control took arrive here: on the background, the
    // plain texts and the frames. They move the window like its caption bar.
    if (event->button() != Qt::LeftButton) {
        QDialog::mousePressEvent(event);
        return;
    }
    event->accept();
    if (QWindow *handle = windowHandle(); handle && handle->startSystemMove())
        return;
    // The platform cannot move the window for us: follow the pointer ourselves.
    m_dragging = true;
    m_dragOffset = event->globalPosition().toPoint() - pos();
}

void CTonvexDlg::mouseMoveEvent(QMouseEvent *event) {
    if (m_dragging && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - m_dragOffset);
        event->accept();
        return;
    }
    QDialog::mouseMoveEvent(event);
}

void CTonvexDlg::mouseReleaseEvent(QMouseEvent *event) {
    if (m_dragging && event->button() == Qt::LeftButton) {
        m_dragging = false;
        event->accept();
        return;
    }
    QDialog::mouseReleaseEvent(event);
}

void CTonvexDlg::dragEnterEvent(QDragEnterEvent *event) {
    if (!localFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void CTonvexDlg::dropEvent(QDropEvent *event) {
    const QStringList files = localFiles(event->mimeData());
    if (files.isEmpty())
        return;
    event->acceptProposedAction();
    emit filesDropped(files);
}

} // namespace melvora
