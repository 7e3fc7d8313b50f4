// qm6200-make-pictures: draws the program's icon and splash pictures into the directory
// given as the only argument. Everything is drawn here from shapes, so the output is the
// same on every run; the committed files in shell/pictures come from this program.

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPainter>
#include <QPainterPath>
#include <QTextStream>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// The teal theme shared by all pictures.
const QColor Outline(0x0a, 0x4f, 0x57);
const QColor Body(0x1a, 0x9a, 0xa0);
const QColor BodyLight(0x4f, 0xc4, 0xc6);
const QColor Lcd(0x0b, 0x2b, 0x31);
const QColor LcdLit(0x8f, 0xfc, 0xff);
const QColor LcdUnlit(0x16, 0x3e, 0x45);
const QColor Key(0xc0, 0xff, 0xff);
const QColor SplashBack(192, 255, 255);

struct Layer {
    QPainterPath path;
    QColor color;
};

// Segments a..g of a seven-segment digit, bit 0 = a (top) to bit 6 = g (middle).
constexpr int SegmentMask[10] = {0x3f, 0x06, 0x5b, 0x4f, 0x66, 0x6d, 0x7d, 0x07, 0x7f, 0x6f};

// One segment as a bevelled bar between two points on its centre line.
QPainterPath segment(QPointF from, QPointF to, qreal thick, bool bevel)
{
    const qreal h = thick / 2;
    QPainterPath p;
    if (!bevel) {
        p.addRect(QRectF(from - QPointF(h, h), to + QPointF(h, h)).normalized());
        return p;
    }
    const bool across = from.y() == to.y();
    const QPointF along = across ? QPointF(h, 0) : QPointF(0, h);
    const QPointF side = across ? QPointF(0, h) : QPointF(h, 0);
    const QPointF gap = along * 0.25;
    p.moveTo(from + gap);
    p.lineTo(from + gap + along + side);
    p.lineTo(to - gap - along + side);
    p.lineTo(to - gap);
    p.lineTo(to - gap - along - side);
    p.lineTo(from + gap + along - side);
    p.closeSubpath();
    return p;
}

// Adds the digits of text to lit, and the dark segments to unlit when it is given.
void addDigits(QPainterPath& lit, QPainterPath* unlit, QRectF cell, qreal pitch, qreal thick,
               bool bevel, const char* text)
{
    lit.setFillRule(Qt::WindingFill);
    for (const char* c = text; *c; ++c, cell.translate(pitch, 0)) {
        const qreal h = thick / 2;
        const qreal l = cell.left() + h, r = cell.right() - h;
        const qreal t = cell.top() + h, m = cell.center().y(), b = cell.bottom() - h;
        const QPointF ends[7][2] = {{{l, t}, {r, t}}, {{r, t}, {r, m}}, {{r, m}, {r, b}},
                                    {{l, b}, {r, b}}, {{l, m}, {l, b}}, {{l, t}, {l, m}},
                                    {{l, m}, {r, m}}};
        for (int s = 0; s < 7; ++s) {
            const QPainterPath bar = segment(ends[s][0], ends[s][1], thick, bevel);
            if (SegmentMask[*c - '0'] & (1 << s))
                lit.addPath(bar);
            else if (unlit)
                unlit->addPath(bar);
        }
    }
}

QPainterPath roundedRect(qreal x, qreal y, qreal w, qreal h, qreal radius)
{
    QPainterPath p;
    p.addRoundedRect(x, y, w, h, radius, radius);
    return p;
}

// The icon on a 256 x 256 grid: the instrument with its counter display and five keys.
// The 16 and 32 px versions keep to whole pixels so that they stay sharp.
std::vector<Layer> iconLayers(int size)
{
    QPainterPath lit, unlit, keys, outline, body, lcd, top;
    if (size < 24) {
        addDigits(lit, nullptr, QRectF(48, 48, 64, 80), 96, 16, false, "25");
        for (int k = 0; k < 3; ++k)
            keys.addRect(48 + k * 64, 176, 32, 32);
        return {{roundedRect(0, 16, 256, 224, 40), Outline},
                {roundedRect(16, 32, 224, 192, 24), Body},
                {roundedRect(32, 32, 192, 112, 0), Lcd},
                {lit, LcdLit},
                {keys, Key}};
    }
    if (size < 40) {
        outline = roundedRect(8, 24, 240, 208, 32);
        body = roundedRect(16, 32, 224, 192, 24);
        lcd = roundedRect(32, 48, 192, 88, 4);
        addDigits(lit, nullptr, QRectF(64, 64, 32, 56), 48, 8, false, "425");
        for (int k = 0; k < 5; ++k)
            keys.addRect(32 + k * 40, 160, 32, 40);
        top.addRect(0, 0, 256, 40);
    } else {
        outline = roundedRect(8, 24, 240, 208, 36);
        body = roundedRect(20, 36, 216, 184, 26);
        lcd = roundedRect(36, 52, 184, 96, 10);
        addDigits(lit, size >= 64 ? &unlit : nullptr, QRectF(46, 62, 44, 76), 60, 12, true, "425");
        for (int k = 0; k < 5; ++k)
            keys.addRoundedRect(44 + k * 36, 168, 24, 32, 6, 6);
        top.addRect(0, 0, 256, 50);
    }
    return {{outline, Outline}, {body, Body},      {body.intersected(top), BodyLight},
            {lcd, Lcd},         {unlit, LcdUnlit}, {lit, LcdLit},
            {keys, Key}};
}

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.scale(size / 256.0, size / 256.0);
    for (const Layer& layer : iconLayers(size))
        p.fillPath(layer.path, layer.color);
    return image;
}

QString svgPath(const QPainterPath& path)
{
    QString d;
    const auto num = [](qreal v) {
        return QString::number(v, 'g', 6);
    };
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        const char* op = e.isMoveTo()    ? (i ? "ZM" : "M")
                         : e.isLineTo()  ? "L"
                         : e.isCurveTo() ? "C"
                                         : "";
        d += QLatin1String(op) + (*op ? QString() : QStringLiteral(" ")) + num(e.x)
             + QLatin1Char(',') + num(e.y);
    }
    return d + QLatin1Char('Z');
}

bool writeSvgIcon(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
           "viewBox=\"0 0 256 256\">\n";
    for (const Layer& layer : iconLayers(256))
        if (!layer.path.isEmpty())
            out << "  <path fill=\"" << layer.color.name() << "\" d=\"" << svgPath(layer.path)
                << "\"/>\n";
    out << "</svg>\n";
    return file.error() == QFile::NoError;
}

// The instrument in flat style: five counters with a bar graph of them, the total, and
// a key for each counter.
QImage drawSplashLogo()
{
    QImage image(160, 120, QImage::Format_RGB32);
    image.fill(SplashBack);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPainterPath body = roundedRect(13, 15, 134, 92, 9);
    QPainterPath top, lit, unlit, keys;
    top.addRect(0, 0, 160, 21);
    p.fillPath(roundedRect(10, 12, 140, 98, 12), Outline);
    p.fillPath(body, Body);
    p.fillPath(body.intersected(top), BodyLight);
    p.fillPath(roundedRect(21, 24, 118, 52, 4), Lcd);
    const char* counters[5] = {"028", "007", "036", "004", "020"};
    const int bars[5] = {16, 4, 20, 2, 11};
    for (int c = 0; c < 5; ++c) {
        addDigits(lit, nullptr, QRectF(28 + c * 22, 29, 4, 7), 6, 1, false, counters[c]);
        lit.addRect(28 + c * 8, 69 - bars[c], 5, bars[c]);
        keys.addRoundedRect(27 + c * 22, 86, 18, 12, 3, 3);
    }
    addDigits(lit, &unlit, QRectF(77, 47, 9, 22), 12, 2.6, true, "00095");
    unlit.addRect(28, 41, 104, 1);
    p.fillPath(unlit, LcdUnlit);
    p.fillPath(lit, LcdLit);
    p.fillPath(keys, Key);
    return image;
}

// "QM-6200", then a pulse train running into a small counter display.
QImage drawSplashBanner(const QFont& font)
{
    QImage image(276, 52, QImage::Format_RGB32);
    image.fill(SplashBack);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath name;
    name.addText(0, 0, font, QStringLiteral("QM-6200"));
    const QRectF box = name.boundingRect();
    p.fillPath(name.translated(12 - box.left(), 26 - box.center().y()), Outline);

    const qreal from = std::round(box.width()) + 22, to = 198;
    QPainterPath pulses(QPointF(from, 34));
    for (qreal x = from; x + 12 <= to; x += 12) {
        pulses.lineTo(x + 3, 34);
        pulses.lineTo(x + 3, 18);
        pulses.lineTo(x + 8, 18);
        pulses.lineTo(x + 8, 34);
        pulses.lineTo(x + 12, 34);
    }
    pulses.lineTo(to, 34);
    p.strokePath(pulses, QPen(Body, 2, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
    p.fillPath(roundedRect(200, 10, 66, 32, 5), Outline);
    p.fillPath(roundedRect(202, 12, 62, 28, 4), Lcd);
    QPainterPath lit;
    addDigits(lit, nullptr, QRectF(209, 17, 9, 18), 12.5, 2.8, true, "0095");
    p.fillPath(lit, LcdLit);
    return image;
}

bool save(const QImage& image, const QString& fileName, const char* format, int quality = -1)
{
    QImageWriter writer(fileName, format);
    writer.setQuality(quality);
    if (writer.write(image))
        return true;
    std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(fileName),
                 qPrintable(writer.errorString()));
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "Usage: qm6200-make-pictures OUTPUT-DIRECTORY\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    // The banner text comes from a font file of its own, not from whatever font matches.
    const int fontId = QFontDatabase::addApplicationFont(
        QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"));
    if (fontId < 0) {
        std::fprintf(stderr, "DejaVu Sans Bold is missing (package fonts-dejavu-core)\n");
        return 1;
    }
    QFont font(QFontDatabase::applicationFontFamilies(fontId).value(0));
    font.setBold(true);
    font.setPixelSize(26);
    font.setHintingPreference(QFont::PreferNoHinting);

    bool ok = true;
    for (int size : {16, 32, 48, 64, 128, 256})
        ok &= save(drawIcon(size), dir.filePath(QStringLiteral("icon-%1.png").arg(size)), "png");
    if (!writeSvgIcon(dir.filePath(QStringLiteral("icon.svg")))) {
        std::fprintf(stderr, "cannot write icon.svg\n");
        ok = false;
    }
    ok &= save(drawSplashLogo(), dir.filePath(QStringLiteral("splash-logo.jpg")), "jpeg", 90);
    ok &= save(drawSplashBanner(font), dir.filePath(QStringLiteral("splash-banner.png")), "png");
    return ok ? 0 : 1;
}
