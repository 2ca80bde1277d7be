#include "app/reports/BandReport.h"

#include <QFile>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>

#include "app/util/QtText.h"
#include "platform/core/CodePage.h"
#include "platform/core/Exceptions.h"

namespace rvx {

namespace {

// Memo texts end their lines with CR LF; Qt breaks at LF alone.
QString TextOf(std::string_view text) {
  QString s = ToQString(text);
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return s;
}

// A band placed on a page.
struct TPlacement {
  const TBand* Band;
  double Top;
  double Height;
};

}  // namespace

TReportCanvas::TReportCanvas(QPaintDevice& device, QPainter* painter)
    : device_(device), painter_(painter), dots_per_mm_(device.logicalDpiY() / 25.4) {}

void TReportCanvas::SetOrigin(double left, double top) {
  origin_left_ = left;
  origin_top_ = top;
}

QRectF TReportCanvas::Rect(double left, double top, double width, double height) const {
  return QRectF(Px(origin_left_ + left), Px(origin_top_ + top), Px(width), Px(height));
}

QFont TReportCanvas::Font(const TLabelFont& font) const {
  QFont f(QStringLiteral("Arial"));
  f.setPointSizeF(font.PointSize);
  f.setBold(font.Bold);
  f.setItalic(font.Italic);
  f.setUnderline(font.Underline);
  return f;
}

double TReportCanvas::TextWidth(std::string_view text, const TLabelFont& font) const {
  const QFontMetricsF metrics(Font(font), &device_);
  return metrics.horizontalAdvance(TextOf(text)) / dots_per_mm_;
}

double TReportCanvas::LineHeight(const TLabelFont& font) const {
  const QFontMetricsF metrics(Font(font), &device_);
  return metrics.height() / dots_per_mm_;
}

double TReportCanvas::WrappedHeight(std::string_view text, double width,
                                    const TLabelFont& font) const {
  if (text.empty()) return LineHeight(font);
  const QFontMetricsF metrics(Font(font), &device_);
  const QRectF r = metrics.boundingRect(
      QRectF(0, 0, Px(width), 1e9), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, TextOf(text));
  return std::max(r.height(), metrics.height()) / dots_per_mm_;
}

void TReportCanvas::Label(double left, double top, std::string_view text, const TLabelFont& font) {
  const double width = TextWidth(text, font) + 1;
  BoxLabel(left, top, width, LineHeight(font), Qt::AlignLeft, text, font);
}

void TReportCanvas::RightLabel(double right, double top, std::string_view text,
                               const TLabelFont& font) {
  const double width = TextWidth(text, font) + 1;
  BoxLabel(right - width, top, width, LineHeight(font), Qt::AlignRight, text, font);
}

void TReportCanvas::CentredLabel(double left, double right, double top, std::string_view text,
                                 const TLabelFont& font) {
  BoxLabel(left, top, right - left, LineHeight(font), Qt::AlignHCenter, text, font);
}

void TReportCanvas::BoxLabel(double left, double top, double width, double height, int alignment,
                             std::string_view text, const TLabelFont& font) {
  if (!painter_ || text.empty()) return;
  painter_->setFont(Font(font));
  painter_->setPen(font.Colour);
  painter_->drawText(Rect(left, top, width, height),
                     alignment | Qt::AlignTop | Qt::TextDontClip | Qt::TextSingleLine,
                     TextOf(text));
}

void TReportCanvas::WrappedLabel(double left, double top, double width, std::string_view text,
                                 const TLabelFont& font) {
  if (!painter_ || text.empty()) return;
  painter_->setFont(Font(font));
  painter_->setPen(font.Colour);
  painter_->drawText(Rect(left, top, width, WrappedHeight(text, width, font)),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, TextOf(text));
}

void TReportCanvas::FillRect(double left, double top, double width, double height,
                             const QColor& colour) {
  if (!painter_) return;
  painter_->fillRect(Rect(left, top, width, height), colour);
}

void TBandReport::Render(QPagedPaintDevice& device) const {
  device.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                   QMarginsF(kMargin, kMargin, kMargin, kMargin),
                                   QPageLayout::Millimeter));
  // Lay the bands out first, measuring stretching bands on the device.
  const TReportCanvas measure(device, nullptr);
  auto height_of = [&](const TBand& band) {
    return band.Measure ? std::max(band.Height, band.Measure(measure)) : band.Height;
  };
  double header_height = 0;
  for (const TBand& band : PageHeader)
    header_height += height_of(band);
  const double footer_top = kContentHeight - height_of(PageFooter);
  std::vector<std::vector<TPlacement>> pages(1);
  double y = header_height;
  for (const TBand& band : Details) {
    const double h = height_of(band);
    // A band that fits on no page still gets a page of its own.
    if (y + h > footer_top && y > header_height) {
      pages.emplace_back();
      y = header_height;
    }
    pages.back().push_back({&band, y, h});
    y += h;
  }

  QPainter painter;
  if (!painter.begin(&device))
    throw platform::Exception("The report \"" + title_ + "\" cannot be printed on this device");
  painter.setRenderHint(QPainter::Antialiasing);
  TReportCanvas canvas(device, &painter);
  auto paint = [&](const TBand& band, double top) {
    if (!band.Paint) return;
    canvas.SetOrigin(0, top);
    painter.save();
    band.Paint(canvas);
    painter.restore();
  };
  for (std::size_t p = 0; p < pages.size(); ++p) {
    if (p > 0) device.newPage();
    double top = 0;
    for (const TBand& band : PageHeader) {
      paint(band, top);
      top += height_of(band);
    }
    for (const TPlacement& placed : pages[p])
      paint(*placed.Band, placed.Top);
    paint(PageFooter, footer_top);
  }
  painter.end();
}

void TBandReport::WritePdf(const std::string& path) const {
  QFile file(QFile::decodeName(path.c_str()));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw platform::Exception("Cannot create file " + platform::Utf8ToAnsi(path) + ". " +
                              FromQString(file.errorString()));
  {
    QPdfWriter writer(&file);
    writer.setResolution(kPdfResolution);
    writer.setTitle(ToQString(title_));
    writer.setCreator(QStringLiteral("RVX Log"));
    Render(writer);
  }
  file.close();
  if (file.error() != QFileDevice::NoError)
    throw platform::Exception("Cannot write file " + platform::Utf8ToAnsi(path) + ". " +
                              FromQString(file.errorString()));
}

}  // namespace rvx
