// The main window: its controls at their fixed places, the menus, the start-up
// sequence, the shut-down paths, the focus rule and the handler guard.
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
#include <vector>

#include "about/frmAbout.h"
#include "app/Guards.h"
#include "app/HelpViewer.h"
#include "app/WindowLook.h"
#include "devices/Instruments.h"
#include "keyboard/PianoKeyboard.h"
#include "midi/MIDIInput.h"
#include "midi/MIDIOutput.h"

namespace vantor {

namespace {

constexpr int ClientWidth = 866;
constexpr int ClientHeight = 185;
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

template <class Widget>
Widget* Place(QWidget* parent, const char* name, int x, int y, int width, int height)
{
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, width, height);
    return widget;
}

QLabel* PlaceLabel(QWidget* parent, const char* name, const char* text, QRect rect)
{
    auto* label = Place<QLabel>(parent, name, rect.x(), rect.y(), rect.width(), rect.height());
    label->setText(QString::fromLatin1(text));
    return label;
}

QPushButton* PlaceButton(QWidget* parent, const char* name, const char* text, const char* tip, QRect rect)
{
    auto* button = Place<QPushButton>(parent, name, rect.x(), rect.y(), rect.width(), rect.height());
    button->setText(QString::fromLatin1(text));
    button->setToolTip(QString::fromLatin1(tip));
    return button;
}

// The six transport buttons: a symbol and no text, the tooltip read out as their name.
QPushButton* PlaceTransport(QWidget* parent, const char* name, QStyle::StandardPixmap symbol, const char* tip,
                            QRect rect)
{
    auto* button = PlaceButton(parent, name, "", tip, rect);
    button->setIcon(parent->style()->standardIcon(symbol, nullptr, button));
    button->setIconSize(QSize(12, 12));
    button->setAccessibleName(QString::fromLatin1(tip));
    return button;
}

QComboBox* PlaceList(QWidget* parent, const char* name, QRect rect)
{
    auto* combo = Place<QComboBox>(parent, name, rect.x(), rect.y(), rect.width(), rect.height());
    combo->setMaxVisibleItems(16);
    return combo;
}

QLineEdit* PlaceTextBox(QWidget* parent, const char* name, const char* tip, QRect rect)
{
    auto* box = Place<QLineEdit>(parent, name, rect.x(), rect.y(), rect.width(), rect.height());
    box->setText(QStringLiteral("1"));
    box->setToolTip(QString::fromLatin1(tip));
    return box;
}

// The room a control gives its caption: buttons lose their frame and padding,
// the check box its indicator, a list its arrow.
constexpr int ButtonChrome = 8;
constexpr int CheckBoxChrome = 22;
constexpr int ListChrome = 26;

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
    // Nothing in the window moves or grows: the window keeps its size.
    // Fixed before the window exists, so no platform window has to be told later.
    setFixedSize(sizeHint());
}

Form1::~Form1()
{
    // The ports outlive this object's members (Qt deletes children last): nothing
    // they report while closing may reach the half-destroyed window.
    closing_ = true;
    MIDIOutput1->disconnect(this);
    MIDIInput1->disconnect(this);
}

void Form1::BuildLayout()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("Client"));
    client->setFixedSize(ClientWidth, ClientHeight);
    setCentralWidget(client);

    Label2 = PlaceLabel(client, "Label2", "Midi Out", {18, 20, 41, 13});
    OutputDevCombo = PlaceList(client, "OutputDevCombo", {64, 16, 185, 21});
    Label1 = PlaceLabel(client, "Label1", "Midi In", {26, 46, 41, 13});
    InputDevCombo = PlaceList(client, "InputDevCombo", {64, 42, 185, 21});
    Label3 = PlaceLabel(client, "Label3", "Track", {277, 20, 33, 17});
    TrackList = PlaceList(client, "TrackList", {310, 16, 185, 21});
    Label4 = PlaceLabel(client, "Label4", "Program", {265, 46, 41, 17});
    ProgramList = PlaceList(client, "ProgramList", {310, 42, 185, 21});
    ResetMidi = PlaceButton(client, "ResetMidi", "Midi Reset", "Midi Reset", {532, 18, 77, 20});
    ChordMode = Place<QCheckBox>(client, "ChordMode", 534, 44, 87, 17);
    ChordMode->setText(QStringLiteral("Chord Mode"));
    ChordMode->setChecked(false);
    TagMark = PlaceButton(client, "TagMark", "Set Mark", "Set Mark", {636, 18, 57, 20});
    TagMarker = PlaceTextBox(client, "TagMarker", "Marker", {700, 18, 55, 19});
    TagGoto = PlaceButton(client, "TagGoto", "Goto Mark", "Goto Mark", {762, 18, 57, 20});
    CmdStop = PlaceTransport(client, "CmdStop", QStyle::SP_MediaPause, "Reset", {822, 18, 27, 20});
    TagStart =
        PlaceTransport(client, "TagStart", QStyle::SP_MediaSkipBackward, "Goto Begin", {636, 42, 27, 20});
    TagBack =
        PlaceTransport(client, "TagBack", QStyle::SP_MediaSeekBackward, "Step Backward", {666, 42, 27, 20});
    TagNumber = PlaceTextBox(client, "TagNumber", "Message", {700, 42, 55, 19});
    TagForward =
        PlaceTransport(client, "TagForward", QStyle::SP_MediaSeekForward, "Step Forward", {762, 42, 27, 20});
    TagEnd = PlaceTransport(client, "TagEnd", QStyle::SP_MediaSkipForward, "Goto End", {792, 42, 27, 20});
    CmdPlay = PlaceTransport(client, "CmdPlay", QStyle::SP_MediaPlay, "Play", {822, 42, 27, 20});
    TagSlider = Place<QSlider>(client, "TagSlider", 8, 68, 851, 23);
    TagSlider->setOrientation(Qt::Horizontal);
    TagSlider->setRange(1, 1);
    TagSlider->setValue(1);
    TagSlider->setTracking(false);  // a drag is one move
    Keyboard = new PianoKeyboard(client);
    Keyboard->setObjectName(QStringLiteral("Keyboard"));
    Keyboard->setGeometry(PianoKeyboard::Area);

    // Labels take their text as it stands; the rest of the window matches them.
    for (QLabel* label : {Label1, Label2, Label3, Label4})
        label->setTextFormat(Qt::PlainText);
    auto* wheelFilter = new ClosedComboWheelFilter(this);
    for (QComboBox* combo : {OutputDevCombo, InputDevCombo, TrackList, ProgramList}) {
        combo->setFocusPolicy(Qt::StrongFocus);
        combo->installEventFilter(wheelFilter);
    }

    std::vector<CaptionRoom> captions;
    for (QLabel* label : {Label1, Label2, Label3, Label4})
        captions.push_back({label->text(), label->width()});
    for (QPushButton* button : {ResetMidi, TagMark, TagGoto})
        captions.push_back({button->text(), button->width() - ButtonChrome});
    captions.push_back({ChordMode->text(), ChordMode->width() - CheckBoxChrome});
    for (const QString& name : InstrumentNames())
        captions.push_back({name, ProgramList->width() - ListChrome});
    const QFont font = WindowTextFont(captions);
    client->setFont(font);

    setTabOrder(TagStart, TagBack);
    setTabOrder(TagBack, TagForward);
    setTabOrder(TagForward, TagEnd);
    setTabOrder(TagEnd, CmdPlay);
    setTabOrder(CmdPlay, CmdStop);
    setTabOrder(CmdStop, TagGoto);
    setTabOrder(TagGoto, TagMark);
    setTabOrder(TagMark, ChordMode);
    setTabOrder(ChordMode, ResetMidi);
    setTabOrder(ResetMidi, ProgramList);
    setTabOrder(ProgramList, TrackList);
    setTabOrder(TrackList, InputDevCombo);
    setTabOrder(InputDevCombo, OutputDevCombo);
    setTabOrder(OutputDevCombo, TagNumber);
    setTabOrder(TagNumber, TagMarker);
    setTabOrder(TagMarker, TagSlider);
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
            guard("OutputDevCombo_Click", &Form1::OutputDevCombo_Click));
    connect(InputDevCombo, &QComboBox::activated, this,
            guard("InputDevCombo_Click", &Form1::InputDevCombo_Click));
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
    helpFilePath_ = QCoreApplication::applicationDirPath() + QStringLiteral("/Vantor.html");
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
    // A missing or unreadable document is not reported.
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
