// The window's controls at their fixed places, their font and tab order.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <vector>

#include "app/Form1.h"
#include "app/WindowLook.h"
#include "app/devices/Instruments.h"
#include "keyboard/PianoKeyboard.h"

namespace vantor {

namespace {

constexpr int ClientWidth = 866;
constexpr int ClientHeight = 185;

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

}  // namespace

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

}  // namespace vantor
