// ReportLogo: the picture at the top left of the program's reports, drawn
// as vector graphics into the logo's frame (29.1 x 25.7 mm on the page): a
// blue tile with a wave, a propeller shaft and the letters "RVX".
//
// Thread safety: GUI thread only.
#pragma once

#include <QRectF>

class QPainter;

namespace rvx {

// Paints the logo filling rect (device pixels).
void PaintReportLogo(QPainter& painter, const QRectF& rect);

}  // namespace rvx
