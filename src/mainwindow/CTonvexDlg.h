#pragma once

#include "config/JoinPresets.h"
#include "controls/DialogUnits.h"
#include "engine/MixSettings.h"

#include <QColor>
#include <QDialog>
#include <QHash>
#include <QPoint>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace melvora {

class CControlButton;
class CHyperLink;
class MainWindowActions;
class OutputFolderBox;
struct MixJob;

// The program's only top-level window: the video and music rows, the output
// folder, the start button and the web link. Construction runs the whole
// start-up (settings, language texts, button faces, output folder); closing
// the window stops any running job, saves the hidden preset selections and
// ends the dialog.
//
// Controls are addressed by their template ids (control(id), object name
// "1290" and so on). What the buttons and drops do lives in the window's
// MainWindowActions; dropped files reach it through filesDropped().
class CTonvexDlg : public QDialog {
    Q_OBJECT

public:
    enum ControlId : int {
        VideoPathBox = 1290,
        AddVideoButton = 1288,
        MusicPathBox = 1292,
        AddMusicButton = 1289,
        WebLink = 1180,
        StartButton = 1099,
        OutputFolderLabel = 1276,
        OutputFolderCombo = 1077,
        BrowseButton = 1076,
        OpenFolderButton = 1286,
    };

    static constexpr QColor backgroundColour() { return QColor(187, 222, 251); }

    explicit CTonvexDlg(QWidget *parent = nullptr);
    ~CTonvexDlg() override;

    // The control with a template id; nullptr for an id the window does not show.
    QWidget *control(int id) const;
    QLineEdit *videoPathBox() const { return m_videoPathBox; }
    QLineEdit *musicPathBox() const { return m_musicPathBox; }
    QPushButton *addVideoButton() const { return m_addVideoButton; }
    QPushButton *addMusicButton() const { return m_addMusicButton; }
    CControlButton *startButton() const { return m_startButton; }
    CControlButton *browseButton() const { return m_browseButton; }
    CControlButton *openFolderButton() const { return m_openFolderButton; }
    OutputFolderBox *outputFolderBox() const { return m_outputFolderBox; }
    CHyperLink *webLink() const { return m_webLink; }
    MainWindowActions *actions() const { return m_actions; }

    // The layout's units, from the dialog font.
    const DialogUnits &dialogUnits() const { return m_units; }

    // Reads the language file named by the settings into the process-wide
    // texts and puts the title and the web link in place.
    void ApplyLanguageTexts();

    // The one job record of the process: none until the first file is
    // added, then the same record for every probe and run.
    MixJob *mixJob() const { return m_mixJob.get(); }
    MixJob &ensureMixJob();
    // Stops a running worker, waits for its tear-down and drops the record.
    void releaseMixJob();

    // The output-folder value (what the box shows once the controls are
    // loaded) and the folder that last passed the checks.
    const QString &outputFolder() const { return m_outputFolder; }
    void setOutputFolder(const QString &folder) { m_outputFolder = folder; }
    const QString &acceptedOutputFolder() const { return m_acceptedOutputFolder; }
    void setAcceptedOutputFolder(const QString &folder) { m_acceptedOutputFolder = folder; }

    bool openFolderWhenDone() const { return m_openFolderWhenDone; }
    void setOpenFolderWhenDone(bool open) { m_openFolderWhenDone = open; }

    // LANGUAGE/file as read at start-up.
    const std::string &languageFileName() const { return m_languageFileName; }

    const JoinPresets &joinPresets() const { return *m_joinPresets; }

    // How the next start mixes: read from [MIX] at start-up, changed by the
    // mix settings dialog (and saved there when it is accepted).
    const MixSettings &mixSettings() const { return m_mixSettings; }
    void setMixSettings(const MixSettings &settings) { m_mixSettings = settings; }
    // "Mix settings…", in the free strip below the output folder row, with
    // the settings that differ from the plain mix in a line beside it.
    QPushButton *mixSettingsButton() const { return m_mixSettingsButton; }
    QLabel *mixSummaryLine() const { return m_mixSummary; }
    // Runs the dialog modally; on OK keeps its settings and saves them to [MIX].
    void openMixSettings();

    // The language chooser above the web link: the shipped languages by
    // their names in the settings (and the current file when it is none of
    // them). Choosing one writes LANGUAGE/file and applies it at once.
    QComboBox *languageChooser() const { return m_languageChooser; }
    void chooseLanguage(const std::string &fileName);

    // The window's data exchange: members into the controls, and back.
    void loadControlsFromMembers();
    void readControlsIntoMembers();

    // OK and Cancel never end this window; only closing it does.
    void accept() override {}
    void reject() override {}

signals:
    // Local files dropped on the window, in the order they came.
    void filesDropped(const QStringList &paths);
    // The window is closing; the job is still there and may be running.
    void aboutToClose();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void startUp();
    void createControls();
    void setUpTabOrder();
    void setUpButtonFaces();
    void createMixSettingsButton();
    void createLanguageChooser();
    void fillLanguageChooser();
    // Every text of the window in the language just read: the captions of
    // the template's controls and pictures, the tooltip, the added controls.
    void applyWindowTexts();
    void updateMixSummary();

    DialogUnits m_units;
    QHash<int, QWidget *> m_controls;
    QLineEdit *m_videoPathBox = nullptr;
    QLineEdit *m_musicPathBox = nullptr;
    QPushButton *m_addVideoButton = nullptr;
    QPushButton *m_addMusicButton = nullptr;
    CControlButton *m_startButton = nullptr;
    CControlButton *m_browseButton = nullptr;
    CControlButton *m_openFolderButton = nullptr;
    OutputFolderBox *m_outputFolderBox = nullptr;
    CHyperLink *m_webLink = nullptr;
    MainWindowActions *m_actions = nullptr;

    std::unique_ptr<MixJob> m_mixJob;
    QString m_outputFolder;
    QString m_acceptedOutputFolder;
    bool m_openFolderWhenDone = true;
    std::string m_languageFileName;
    std::optional<JoinPresets> m_joinPresets;
    MixSettings m_mixSettings;
    QPushButton *m_mixSettingsButton = nullptr;
    QLabel *m_mixSummary = nullptr;
    QLabel *m_languageLabel = nullptr;
    QComboBox *m_languageChooser = nullptr;

    bool m_dragging = false;
    QPoint m_dragOffset;
};

} // namespace melvora
