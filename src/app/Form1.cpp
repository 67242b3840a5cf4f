// The main window: its menus, the start-up sequence, the shut-down paths, the
// focus rule and the handler guard. The controls are placed in window/Layout.cpp.
#include "app/Form1.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QStyle>

#include "about/frmAbout.h"
#include "app/HelpViewer.h"
#include "app/WindowLook.h"
#include "common/Guards.h"
#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"

namespace vantor {

namespace {

const QString WindowCaption = QStringLiteral("Vantor Piano Tutor");

Form1Hooks CompleteHooks(Form1Hooks hooks)
{
    if (!hooks.ChooseMidiFile)
        hooks.ChooseMidiFile = [](QWidget* parent) {
            QFileDialog dialog(parent, QStringLiteral("Open MIDI File"), QString(),
                               QStringLiteral("(*.mid) MIDI files (*.mid)"));
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            dialog.setFileMode(QFileDialog::ExistingFile);  // only the name of an existing file
            dialog.setDefaultSuffix(QStringLiteral("mid"));
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
            return dialog.selectedFiles().constFirst();
        };
    if (!hooks.ShowMessage)
        hooks.ShowMessage = [](QWidget* parent, const QString& text) {
            QMessageBox::warning(parent, WindowCaption, text, QMessageBox::Ok);
        };
    if (!hooks.Quit) hooks.Quit = [] { QCoreApplication::exit(0); };
    return hooks;
}

// The one local MIDI file being dragged, or "" if the drag carries anything else.
QString DraggedMidiFile(const QMimeData* data)
{
    if (!data || !data->hasUrls()) return {};
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
    const QString path = urls.front().toLocalFile();
    const QFileInfo info(path);
    if (!info.isFile() || info.suffix().compare(QStringLiteral("mid"), Qt::CaseInsensitive) != 0) return {};
    return info.absoluteFilePath();
}

}  // namespace

Form1::Form1(std::shared_ptr<DeviceProvider> devices, Form1Hooks hooks, QWidget* parent)
    : QMainWindow(parent), hooks_(CompleteHooks(std::move(hooks)))
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(WindowCaption);
    setWindowIcon(VantorIcon());
    setAcceptDrops(true);
    MIDIOutput1 = new MIDIOutput(devices, this);
    MIDIOutput1->setObjectName(QStringLiteral("MIDIOutput1"));
    MIDIInput1 = new MIDIInput(std::move(devices), this);
    MIDIInput1->setObjectName(QStringLiteral("MIDIInput1"));
    BuildLayout();
    BuildMenus();
    ConnectHandlers();
    // Computer keys reach whichever control has the focus first.
    QCoreApplication::instance()->installEventFilter(this);
    // Nothing in the window moves or grows: the window keeps its size.
    // Fixed before the window exists, so no platform window has to be told later.
    setFixedSize(sizeHint());
}

Form1::~Form1()
{
    // The ports outlive this object's members (Qt deletes children last): nothing
    // they report while closing may reach the half-destroyed window.
    closing_ = true;
    QCoreApplication::instance()->removeEventFilter(this);
    MIDIOutput1->disconnect(this);
    MIDIInput1->disconnect(this);
}

void Form1::BuildMenus()
{
    FileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    FileMenu->setObjectName(QStringLiteral("FileMenu"));
    FileOpen = FileMenu->addAction(QStringLiteral("&Open Midifile..."));
    FileOpen->setObjectName(QStringLiteral("FileOpen"));
    FileOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    FileMenu->addSeparator()->setObjectName(QStringLiteral("FileSep1"));
    FileExit = FileMenu->addAction(QStringLiteral("E&xit"));
    FileExit->setObjectName(QStringLiteral("FileExit"));

    BuildPracticeMenu();

    HelpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
    HelpContent = HelpMenu->addAction(QStringLiteral("&Help Contents"));
    HelpContent->setObjectName(QStringLiteral("HelpContent"));
    HelpContent->setShortcut(QKeySequence(Qt::Key_F1));
    HelpMenu->addSeparator()->setObjectName(QStringLiteral("HelpSep1"));
    HelpAbout = HelpMenu->addAction(QStringLiteral("&About Vantor"));
    HelpAbout->setObjectName(QStringLiteral("HelpAbout"));
}

void Form1::ConnectHandlers()
{
    // Every connection runs its handler inside the guard.
    const auto guard = [this](const char* name, void (Form1::*handler)()) {
        return [this, name, handler] { Guarded(name, [this, handler] { (this->*handler)(); }); };
    };

    connect(FileOpen, &QAction::triggered, this, guard("OpenMidiFile", &Form1::OpenMidiFile));
    connect(FileExit, &QAction::triggered, this, guard("FileExit_Click", &Form1::FileExit_Click));
    connect(HelpContent, &QAction::triggered, this, guard("HelpContent_Click", &Form1::HelpContent_Click));
    connect(HelpAbout, &QAction::triggered, this, guard("HelpAbout_Click", &Form1::HelpAbout_Click));

    connect(OutputDevCombo, &QComboBox::activated, this,
            guard("OutputDevCombo_Activated", &Form1::OutputDevCombo_Activated));
    connect(InputDevCombo, &QComboBox::activated, this,
            guard("InputDevCombo_Activated", &Form1::InputDevCombo_Activated));
    connect(ProgramList, &QComboBox::activated, this, guard("ProgramList_Click", &Form1::ProgramList_Click));
    connect(TrackList, &QComboBox::activated, this, guard("TrackList_Click", &Form1::TrackList_Click));
    connect(ResetMidi, &QPushButton::clicked, this, guard("ResetMidi_Click", &Form1::ResetMidi_Click));
    connect(ChordMode, &QCheckBox::clicked, this, guard("ChordMode_Click", &Form1::ChordMode_Click));

    connect(TagForward, &QPushButton::clicked, this, guard("TagForward_Click", &Form1::TagForward_Click));
    connect(TagBack, &QPushButton::clicked, this, guard("TagBack_Click", &Form1::TagBack_Click));
    connect(TagStart, &QPushButton::clicked, this, guard("TagStart_Click", &Form1::TagStart_Click));
    connect(TagEnd, &QPushButton::clicked, this, guard("TagEnd_Click", &Form1::TagEnd_Click));
    connect(TagMark, &QPushButton::clicked, this, guard("TagMark_Click", &Form1::TagMark_Click));
    connect(TagGoto, &QPushButton::clicked, this, guard("TagGoto_Click", &Form1::TagGoto_Click));
    connect(TagNumber, &QLineEdit::textChanged, this, guard("TagNumber_Change", &Form1::TagNumber_Change));
    connect(TagMarker, &QLineEdit::textChanged, this, guard("TagMarker_Change", &Form1::TagMarker_Change));
    connect(TagSlider, &QSlider::valueChanged, this, guard("TagSlider_Change", &Form1::TagSlider_Change));
    connect(CmdPlay, &QPushButton::clicked, this, guard("CmdPlay_Click", &Form1::CmdPlay_Click));
    connect(CmdStop, &QPushButton::clicked, this, guard("CmdStop_Click", &Form1::CmdStop_Click));

    connect(MIDIOutput1, &MIDIOutput::MessagePlayed, this,
            [this](qint32 tag) { Guarded("OnMessagePlayed", [this, tag] { OnMessagePlayed(tag); }); });
    connect(MIDIOutput1, &MIDIOutput::QueueEmpty, this, guard("StopPlayback", &Form1::StopPlayback));
    connect(MIDIOutput1, &MIDIOutput::Error, this, [this](int code, const QString& description) {
        Guarded("OutputPort_Error", [&] { OutputPort_Error(code, description); });
    });
    connect(MIDIInput1, &MIDIInput::MessageReceived, this,
            guard("OnMessageReceived", &Form1::OnMessageReceived));
    connect(MIDIInput1, &MIDIInput::Error, this, [this](int code, const QString& description) {
        Guarded("InputPort_Error", [&] { InputPort_Error(code, description); });
    });
}

void Form1::Form_Load()
{
    helpFilePath_ = FindHelpDocument(QCoreApplication::applicationDirPath());
    FillOutputDevices();
    FillInputDevices();
    FillProgramList();
    ProgramChannel = 0;
    show();
    FocusStepForward();
    CmdStop->setEnabled(false);
    CmdPlay->setEnabled(false);
}

void Form1::Form_QueryUnload()
{
    // Set first, so nothing reached from the closes below opens a port again.
    closing_ = true;
    CloseOutput();
    CloseInput();
    hooks_.Quit();
}

void Form1::FileExit_Click()
{
    Form_QueryUnload();
}

void Form1::HelpContent_Click()
{
    auto* viewer = findChild<HelpViewer*>(QString(), Qt::FindDirectChildrenOnly);
    if (!viewer) viewer = new HelpViewer(this);
    // Looked for again: it may have been installed meanwhile. A missing or
    // unreadable document is not reported.
    helpFilePath_ = FindHelpDocument(QCoreApplication::applicationDirPath());
    viewer->ShowContents(helpFilePath_);
}

void Form1::HelpAbout_Click()
{
    frmAbout about(this);
    about.exec();
}

void Form1::ChordMode_Click()
{
    FocusStepForward();
}

void Form1::FocusStepForward()
{
    // Requests made while the start-up sequence fills the lists come before the
    // window is shown; the sequence gives the focus itself once it is.
    if (!isVisible()) return;
    TagForward->setFocus(Qt::OtherFocusReason);
}

void Form1::FocusStepForwardIfVisible()
{
    if (TagForward->isVisible()) FocusStepForward();
}

void Form1::YieldOnce()
{
    QCoreApplication::processEvents();
}

void Form1::Guarded(const char* handler, const std::function<void()>& body) noexcept
{
    // Once shut-down has begun no further window or port event is handled.
    if (closing_) return;
    RunGuarded(handler, body);
    // Whatever the handler moved, the keys waited for follow.
    if (!closing_) RunGuarded("UpdateWait", [this] { UpdateWait(); });
}

void Form1::closeEvent(QCloseEvent* event)
{
    // The window is not unloaded: the program ends through the shut-down path.
    event->ignore();
    Guarded("Form_QueryUnload", [this] { Form_QueryUnload(); });
}

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!DraggedMidiFile(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event)
{
    const QString path = DraggedMidiFile(event->mimeData());
    if (path.isEmpty()) return;
    event->acceptProposedAction();
    Guarded("Form_DragDrop", [this, &path] { OpenMidiFileAt(path); });
}

}  // namespace vantor
