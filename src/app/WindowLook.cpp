#include "app/WindowLook.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPixmap>

namespace vantor {

namespace {

// 8.25 pt at 96 dpi, the size the fixed layout was drawn for.
constexpr int DesignPixelSize = 11;
constexpr int SmallestPixelSize = 8;

bool HasFamily(const QString& family)
{
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

// A Tahoma-compatible font that some systems keep outside the font folders.
void LoadCompatibleTahoma()
{
    static constexpr const char* Candidates[] = {"/usr/share/wine/fonts/tahoma.ttf"};
    for (const char* path : Candidates)
        if (QFile::exists(QString::fromLatin1(path)) &&
            QFontDatabase::addApplicationFont(QString::fromLatin1(path)) >= 0)
            return;
}

}  // namespace

int FittingPixelSize(const QFont& base, std::span<const CaptionRoom> captions)
{
    for (int size = DesignPixelSize; size > SmallestPixelSize; --size) {
        QFont font(base);
        font.setPixelSize(size);
        const QFontMetrics metrics(font);
        bool fits = true;
        for (const CaptionRoom& caption : captions)
            if (metrics.horizontalAdvance(caption.text) > caption.width) {
                fits = false;
                break;
            }
        if (fits) return size;
    }
    return SmallestPixelSize;
}

QFont WindowTextFont(std::span<const CaptionRoom> captions)
{
    if (!HasFamily(QStringLiteral("Tahoma"))) LoadCompatibleTahoma();
    if (HasFamily(QStringLiteral("Tahoma"))) {
        QFont tahoma(QStringLiteral("Tahoma"));
        tahoma.setPointSizeF(8.25);
        return tahoma;
    }
    QFont sans(QStringLiteral("Sans Serif"));
    sans.setStyleHint(QFont::SansSerif);
    sans.setPixelSize(FittingPixelSize(sans, captions));
    return sans;
}

QImage VantorIconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, size > 16);
    painter.scale(size / 48.0, size / 48.0);
    // Keyboard body.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x20, 0x28, 0x40));
    painter.drawRoundedRect(QRectF(1, 4, 46, 40), 5, 5);
    // Four white keys, the second one lit as the program lights a sounding key.
    const QColor white(0xFF, 0xFF, 0xFF);
    const QColor lit(0xF0, 0xB0, 0x20);
    for (int key = 0; key < 4; ++key) {
        painter.setBrush(key == 1 ? lit : white);
        painter.drawRect(QRectF(4 + key * 10.5, 8, 9, 33));
    }
    // Black keys between them.
    painter.setBrush(QColor(0x10, 0x10, 0x10));
    for (const double x : {11.0, 21.5, 32.0})
        painter.drawRect(QRectF(x, 8, 6, 19));
    // The red strip above the keys, as on the program's own keyboard.
    painter.setBrush(QColor(0xE0, 0x20, 0x20));
    painter.drawRect(QRectF(4, 5, 40, 2.5));
    return image;
}

QIcon VantorIcon()
{
    QIcon icon;
    for (const int size : {16, 32, 48})
        icon.addPixmap(QPixmap::fromImage(VantorIconImage(size)));
    return icon;
}

bool ClosedComboWheelFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel) {
        const auto* combo = qobject_cast<QComboBox*>(watched);
        if (combo && !combo->view()->isVisible()) {
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace vantor
