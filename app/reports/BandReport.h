// BandReport: the program's report layout on paper. A report is a list of
// bands (horizontal strips of a page) painted with a QPainter on any paged
// device: a PDF writer, or a printer through the Printer seam.
//
// Page: A4 portrait with 12.7 mm margins; every measure of a band is in
// millimetres from the band's top-left corner inside the margins. Bands in
// print order: the page header bands at the top of every page, then the
// detail bands one below the other, each moved to the next page when it
// does not fit above the page footer, which closes every page at the foot
// of the content area. A band may stretch (a wrapped text): its height is
// then what its Measure gives, at least its design height.
//
// Labels are Arial (Liberation Sans through fontconfig) and size themselves
// to their text unless a width is given; texts are Windows-1252.
//
// Errors: Render raises platform::Exception when the device cannot be
// painted on (no printer, a file that cannot be created); an exception from
// a band's painter passes on.
//
// Thread safety: GUI thread only (Qt fonts and painters).
#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QPagedPaintDevice;
class QPaintDevice;
class QPainter;

namespace rvx {

// The colours of the reports (the platform's named colours).
namespace ReportColour {
inline const QColor kTitle{0, 128, 192};
inline const QColor kBlue{0, 0, 255};
inline const QColor kGreen{0, 128, 0};
inline const QColor kMaroon{128, 0, 0};
inline const QColor kBlack{0, 0, 0};
}  // namespace ReportColour

// The font and colour of a label.
struct TLabelFont {
  double PointSize = 10;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  QColor Colour = ReportColour::kBlack;
};

// Paints (or measures, without a painter) in millimetres on a device.
class TReportCanvas {
 public:
  // painter may be null for measuring only.
  TReportCanvas(QPaintDevice& device, QPainter* painter);

  QPainter& Painter() { return *painter_; }
  // Device pixels per millimetre.
  double DotsPerMm() const { return dots_per_mm_; }
  double Px(double mm) const { return mm * dots_per_mm_; }
  // Measures below are from this point of the content area (mm).
  void SetOrigin(double left, double top);
  double OriginTop() const { return origin_top_; }
  // A rectangle of the band in device pixels.
  QRectF Rect(double left, double top, double width, double height) const;

  QFont Font(const TLabelFont& font) const;
  double TextWidth(std::string_view text, const TLabelFont& font) const;
  double LineHeight(const TLabelFont& font) const;
  // The height (mm) of text wrapped at spaces within width (mm).
  double WrappedHeight(std::string_view text, double width, const TLabelFont& font) const;

  // A label that sizes itself: left edge, top.
  void Label(double left, double top, std::string_view text, const TLabelFont& font = {});
  // A label whose right edge is given.
  void RightLabel(double right, double top, std::string_view text, const TLabelFont& font = {});
  // A label centred between left and right.
  void CentredLabel(double left, double right, double top, std::string_view text,
                    const TLabelFont& font = {});
  // A label of fixed size, aligned within it (Qt::AlignLeft, AlignRight...).
  void BoxLabel(double left, double top, double width, double height, int alignment,
                std::string_view text, const TLabelFont& font = {});
  // A text wrapped at spaces within width, growing downwards.
  void WrappedLabel(double left, double top, double width, std::string_view text,
                    const TLabelFont& font = {});
  // A filled rectangle (the reports' rules).
  void FillRect(double left, double top, double width, double height,
                const QColor& colour = ReportColour::kBlack);

 private:
  QPaintDevice& device_;
  QPainter* painter_;
  double dots_per_mm_;
  double origin_left_ = 0;
  double origin_top_ = 0;
};

struct TBand {
  // Design height (mm).
  double Height = 0;
  // The height the band needs when it stretches; empty: Height.
  std::function<double(const TReportCanvas&)> Measure;
  std::function<void(TReportCanvas&)> Paint;
};

class TBandReport {
 public:
  static constexpr double kPageWidth = 210.0;
  static constexpr double kPageHeight = 297.0;
  static constexpr double kMargin = 12.7;
  static constexpr double kContentHeight = kPageHeight - 2 * kMargin;
  // PDF files are written at this resolution (pixel columns of a chart).
  static constexpr int kPdfResolution = 300;

  // title: the document's title (PDF title, print job name).
  explicit TBandReport(std::string title) : title_(std::move(title)) {}

  const std::string& Title() const { return title_; }
  std::vector<TBand> PageHeader;
  std::vector<TBand> Details;
  TBand PageFooter;

  // Lays the bands out on the device's pages and paints them: A4 portrait,
  // the margins above, a QPainter of its own, newPage between pages.
  void Render(QPagedPaintDevice& device) const;
  // Renders into a PDF file at kPdfResolution; an existing file is
  // overwritten. path is the file system's name.
  void WritePdf(const std::string& path) const;

 private:
  std::string title_;
};

}  // namespace rvx
