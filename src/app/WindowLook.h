#pragma once

#include <QFont>
#include <QIcon>
#include <QObject>
#include <QString>
#include <span>

namespace vantor {

// A caption and the width it must fit in, in logical pixels.
struct CaptionRoom
{
    QString text;
    int width = 0;
};

// The largest pixel size, from the size of an 8.25 pt font at 96 dpi downwards,
// at which every caption of base's family fits its room. Never below 8 px.
int FittingPixelSize(const QFont& base, std::span<const CaptionRoom> captions);

// Tahoma where the system has it, else the platform's sans-serif, sized to fit.
QFont WindowTextFont(std::span<const CaptionRoom> captions);

// The program's icon at 16, 32 and 48 pixels: three piano keys under a lit one.
QIcon VantorIcon();
QImage VantorIconImage(int size);

// Keeps a closed combo box from changing its selection on the mouse wheel.
class ClosedComboWheelFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace vantor
