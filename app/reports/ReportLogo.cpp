#include "app/reports/ReportLogo.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

#include "app/reports/BandReport.h"

namespace rvx {

void PaintReportLogo(QPainter& painter, const QRectF& rect) {
  painter.save();
  const double w = rect.width();
  const double h = rect.height();
  auto at = [&](double fx, double fy) {
    return QPointF(rect.left() + fx * w, rect.top() + fy * h);
  };

  // The tile.
  QLinearGradient sky(rect.topLeft(), rect.bottomLeft());
  sky.setColorAt(0, ReportColour::kTitle.lighter(130));
  sky.setColorAt(1, ReportColour::kTitle.darker(140));
  QPainterPath tile;
  tile.addRoundedRect(rect, w * 0.08, w * 0.08);
  painter.fillPath(tile, sky);

  // The sea.
  QPainterPath wave;
  wave.moveTo(at(0, 0.72));
  for (int i = 0; i < 4; ++i) {
    const double x0 = i * 0.25;
    wave.cubicTo(at(x0 + 0.08, 0.64), at(x0 + 0.17, 0.80), at(x0 + 0.25, 0.72));
  }
  wave.lineTo(at(1, 1));
  wave.lineTo(at(0, 1));
  wave.closeSubpath();
  painter.setClipPath(tile);
  painter.fillPath(wave, QColor(255, 255, 255, 90));
  painter.setClipping(false);

  // The shaft with its propeller.
  const QColor white(255, 255, 255);
  painter.setPen(QPen(white, h * 0.035, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(at(0.12, 0.86), at(0.70, 0.86));
  painter.setPen(Qt::NoPen);
  painter.setBrush(white);
  for (double dy : {-1.0, 1.0}) {
    QPainterPath blade;
    blade.moveTo(at(0.74, 0.86));
    blade.cubicTo(at(0.66, 0.86 + dy * 0.05), at(0.74, 0.86 + dy * 0.12),
                  at(0.80, 0.86 + dy * 0.10));
    blade.cubicTo(at(0.84, 0.86 + dy * 0.06), at(0.80, 0.86), at(0.74, 0.86));
    painter.drawPath(blade);
  }
  painter.drawEllipse(QRectF(at(0.71, 0.83), at(0.77, 0.89)));

  // The letters, as outlines: a picture, not text of the page.
  auto letters = [&](const QString& text, double size, bool bold, double centre_y) {
    QFont font(QStringLiteral("Arial"));
    font.setBold(bold);
    font.setPixelSize(std::max(1, static_cast<int>(h * size)));
    QPainterPath path;
    path.addText(0, 0, font, text);
    const QRectF box = path.boundingRect();
    path.translate(at(0.5, centre_y) - box.center());
    painter.fillPath(path, white);
  };
  letters(QStringLiteral("RVX"), 0.30, true, 0.32);
  letters(QStringLiteral("LOG"), 0.11, false, 0.55);
  painter.restore();
}

}  // namespace rvx
