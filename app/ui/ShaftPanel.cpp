#include "app/ui/ShaftPanel.h"

#include <QLabel>
#include <QPalette>
#include <QWidget>
#include <cmath>

#include "app/acquisition/DisplaySettings.h"
#include "app/acquisition/ShaftData.h"
#include "app/ui/GraphPanel.h"
#include "app/util/ControlStyle.h"
#include "app/util/QtText.h"
#include "app/util/Utils.h"

namespace rvx {
namespace {

const QColor kLedOn(0, 170, 0);
const QColor kLedOff(255, 0, 0);
constexpr int kStandardFontPixels = 16;

// Nearest integer, halves to even.
int Nearest(double x) {
  return static_cast<int>(std::nearbyint(x));
}

void SetFill(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
  QPalette palette = widget->palette();
  palette.setColor(role, colour);
  widget->setPalette(palette);
}

QWidget* MakePanel(QWidget* parent, int width, int height, bool buttonFace) {
  auto* panel = new QWidget(parent);
  panel->resize(width, height);
  panel->setAutoFillBackground(buttonFace);
  if (buttonFace) SetFill(panel, QPalette::Window, panel->palette().color(QPalette::Button));
  return panel;
}

void SetFontPixels(QLabel* label, int pixels) {
  QFont font = label->font();
  font.setPixelSize(std::max(1, pixels));
  label->setFont(font);
  label->adjustSize();
}

void SetText(QLabel* label, const std::string& text) {
  if (!label) return;
  label->setText(ToQString(text));
  label->adjustSize();
}

void SetLed(QWidget* led, bool on) {
  if (led) SetFill(led, QPalette::Window, on ? kLedOn : kLedOff);
}

}  // namespace

// ---- TComActivePanel ----

TComActivePanel::TComActivePanel(QWidget* AParent, const DisplaySettings& aConfigurationManager)
    : FConfigurationManager(aConfigurationManager) {
  Panel = MakePanel(AParent, 150, 69, true);
  Panel->hide();
  Lbl_Com = new QLabel(QStringLiteral("RVX Com."));
  PlaceOvcLabel(Lbl_Com, Panel);
  Lbl_Com->move(0, 0);
  Lbl_TotalErrorRate = new QLabel(QStringLiteral("Error rate: 0.0%"));
  PlaceOvcLabel(Lbl_TotalErrorRate, Panel);
  Lbl_TotalErrorRate->move(0, 23);
  Lbl_Com->adjustSize();
  Lbl_TotalErrorRate->adjustSize();
  LED_Com = new QWidget(Panel);
  LED_Com->setGeometry(130, 4, 16, 16);
  LED_Com->setAutoFillBackground(true);
  SetLed(LED_Com, false);
}

std::shared_ptr<TComActivePanel> TComActivePanel::Create(
    QWidget* AParent, const DisplaySettings& aConfigurationManager, IShaftSubject& aShaft) {
  auto panel = std::make_shared<TComActivePanel>(AParent, aConfigurationManager);
  panel->FShaft = &aShaft;
  aShaft.RegisterObserver(panel);
  panel->Panel->show();
  return panel;
}

void TComActivePanel::UpdateHasCommunication(bool aHasCommunication) {
  SetLed(LED_Com, aHasCommunication);
}

void TComActivePanel::UpdateValues(const TDataValue* aPower, const TDataValue* aTorque,
                                   const TDataValue* aSpeed) {
  const bool isError = (aPower && aPower->IsError()) || (aTorque && aTorque->IsError()) ||
                       (aSpeed && aSpeed->IsError());
  UpdateErrorRate(isError);
}

void TComActivePanel::UpdateErrorRate(bool isError) {
  const int window = FConfigurationManager.DataWindowSize();
  // The window may have shrunk since the last reading: keep its latest flags.
  while (window > 0 && FErrorStack.size() >= static_cast<std::size_t>(window))
    FErrorStack.erase(FErrorStack.begin());
  FErrorStack.push_back(isError);
  std::size_t errors = 0;
  for (bool flag : FErrorStack)
    errors += flag;
  const double rate = static_cast<double>(errors) / static_cast<double>(FErrorStack.size()) * 100;
  SetText(Lbl_TotalErrorRate, "Error rate: " + FormatValue(rate) + "%");
}

void TComActivePanel::setPosition(int x, int y) {
  if (Panel) Panel->move(x, y);
}
void TComActivePanel::setVisible(bool flag) {
  if (Panel) Panel->setVisible(flag);
}
int TComActivePanel::getWidth() const {
  return Panel ? Panel->width() : 0;
}
void TComActivePanel::Disconnect() {
  if (FShaft) FShaft->RemoveObserver(this);
  FShaft = nullptr;
}

// ---- TDataPointPanel ----

TDataPointPanel::TDataPointPanel(QWidget* AParent, const std::string& newDataName, QColor newColor)
    : FDataName(newDataName) {
  Panel = MakePanel(AParent, 159, 47, true);
  Lbl_DataName = new QLabel(ToQString(newDataName));
  PlaceLabel(Lbl_DataName, Panel);
  Lbl_DataName->move(0, 0);
  SetFill(Lbl_DataName, QPalette::WindowText, newColor);
  Lbl_DataName->adjustSize();
  Lbl_Data = new QLabel(QStringLiteral("N/A"));
  PlaceLabel(Lbl_Data, Panel);
  Lbl_Data->move(0, Lbl_Data->y());
  SetFill(Lbl_Data, QPalette::WindowText, newColor);
  Lbl_Data->adjustSize();
}

void TDataPointPanel::setData(double aValue, std::optional<double> aPercentOfMcr) {
  SetText(Lbl_Data, FormatValueWithUnit(aValue, dataUnit));
  SetText(Lbl_DataName,
          FDataName + " (" + (aPercentOfMcr ? FormatValue(*aPercentOfMcr) : "NA") + "%)");
}

void TDataPointPanel::setDataNA() {
  SetText(Lbl_Data, "NA");
}

void TDataPointPanel::setPosition(int x, int y) {
  if (Panel) Panel->move(x, y);
}

void TDataPointPanel::setSize(int x, int y) {
  if (!Panel) return;
  Panel->resize(x, y);
  const double scale = std::min(x / 159.0, y / 47.0);
  SetFontPixels(Lbl_DataName, Nearest(16 * scale));
  Lbl_Data->move(Lbl_Data->x(), 2 + Lbl_DataName->font().pixelSize());
  SetFontPixels(Lbl_Data, Nearest(27 * scale));
}

int TDataPointPanel::getHeight() const {
  return Panel ? Panel->height() : 0;
}
int TDataPointPanel::getDataFontHeight() const {
  return Lbl_Data ? -Lbl_Data->font().pixelSize() : 0;
}
int TDataPointPanel::getDataTop() const {
  return Lbl_Data ? Lbl_Data->y() : 0;
}

// ---- TDataSetPanel ----

TDataSetPanel::TDataSetPanel(QWidget* AParent, const DisplaySettings& aConfigurationManager)
    : FConfigurationManager(aConfigurationManager) {
  Panel = MakePanel(AParent, 480, 47, false);
  Power = std::make_unique<TDataPointPanel>(Panel, "Power", QColor(0, 0, 255));
  Speed = std::make_unique<TDataPointPanel>(Panel, "Speed", QColor(0, 128, 0));
  Torque = std::make_unique<TDataPointPanel>(Panel, "Torque", QColor(128, 0, 0));
  setUnits(aConfigurationManager.Units());
  Lbl_State = new QLabel;
  PlaceOvcLabel(Lbl_State, AParent);
  Lbl_State->setText(QString());
}

TDataSetPanel::TDataSetPanel(QWidget* AParent, const DisplaySettings& aConfigurationManager,
                             TShaftDataSet& aShaftDataSet)
    : TDataSetPanel(AParent, aConfigurationManager) {
  setRunMode();
  const auto show = [this](TDataPointPanel& point, TShaftData& data, double factor, int mcr) {
    if (data.HasData())
      ShowShown(point, factor * data.StatisticalShaftData().FilteredAverageValue(), mcr);
    else
      point.setDataNA();
  };
  const DisplaySettings& s = aConfigurationManager;
  show(*Power, aShaftDataSet.PowerData(), s.PowerFactor(), s.PowerMCR());
  show(*Speed, aShaftDataSet.SpeedData(), s.SpeedFactor(), s.SpeedMCR());
  show(*Torque, aShaftDataSet.TorqueData(), s.TorqueFactor(), s.TorqueMCR());
}

std::shared_ptr<TDataSetPanel> TDataSetPanel::Create(QWidget* AParent,
                                                     const DisplaySettings& aConfigurationManager,
                                                     IShaftSubject& aShaft) {
  auto panel = std::make_shared<TDataSetPanel>(AParent, aConfigurationManager);
  panel->FShaft = &aShaft;
  aShaft.RegisterObserver(panel);
  return panel;
}

void TDataSetPanel::setUnits(const std::string& Units) {
  QString upper = ToQString(Units).toUpper();
  const bool metric = upper == QStringLiteral("METRIC");
  Power->setUnit(metric ? "SHp" : "kW");
  Speed->setUnit("rpm");
  Torque->setUnit(metric ? "Tm" : "kNm");
}

void TDataSetPanel::setRunMode() {
  RunMode = true;
  SetText(Lbl_State, "Mean for this run");
}

void TDataSetPanel::ShowShown(TDataPointPanel& point, double shown, int mcr) {
  point.setData(shown, mcr != 0 ? std::optional<double>(shown / mcr * 100) : std::nullopt);
}

void TDataSetPanel::ShowRunningAverage(TDataPointPanel& point, const TDataValue* value, int mcr,
                                       double factor) {
  if (value && value->Value() != 0)
    ShowShown(point, value->Value() * factor, mcr);
  else
    point.setDataNA();
}

void TDataSetPanel::UpdateRunningAverageValues(const TDataValue* aPower, const TDataValue* aTorque,
                                               const TDataValue* aSpeed) {
  const DisplaySettings& s = FConfigurationManager;
  ShowRunningAverage(*Power, aPower, s.PowerMCR(), s.PowerFactor());
  ShowRunningAverage(*Torque, aTorque, s.TorqueMCR(), s.TorqueFactor());
  ShowRunningAverage(*Speed, aSpeed, s.SpeedMCR(), s.SpeedFactor());
}

void TDataSetPanel::SetAllNA() {
  Power->setDataNA();
  Speed->setDataNA();
  Torque->setDataNA();
}

void TDataSetPanel::UpdateHasCommunication(bool) {
  if (!RunMode) SetAllNA();
}

void TDataSetPanel::setPosition(int x, int y) {
  if (!Panel) return;
  Panel->move(x, y);
  if (Lbl_State) Lbl_State->move(Panel->x() + Panel->width(), Panel->y() + Panel->height() - 30);
}

void TDataSetPanel::setSize(int x, int y) {
  if (!Panel) return;
  const int width = std::min(480, x - Nearest(x / 480.0 * 70));
  Panel->resize(width, y);
  const int column = width == 480 ? 158 : width / 3;
  Power->setPosition(0, 0);
  Speed->setPosition(column, 0);
  Torque->setPosition(2 * column, 0);
  Power->setSize(column, y);
  Speed->setSize(column, y);
  Torque->setSize(column, y);
  if (!Lbl_State) return;
  const int stateFontHeight =
      width == 480 ? -kStandardFontPixels : static_cast<int>(width / 480.0 * -kStandardFontPixels);
  SetFontPixels(Lbl_State, -stateFontHeight);
  Lbl_State->move(Panel->x() + width + 5, Panel->y() + Torque->getDataTop() -
                                              Torque->getDataFontHeight() + stateFontHeight);
}

int TDataSetPanel::getHeight() const {
  return Panel ? Panel->height() : 0;
}
int TDataSetPanel::getTop() const {
  return Panel ? Panel->y() : 0;
}
void TDataSetPanel::Disconnect() {
  if (FShaft) FShaft->RemoveObserver(this);
  FShaft = nullptr;
}

// ---- TShaftPanel ----

void TShaftPanel::SetUp(QWidget* AParent, const std::string& aName) {
  Panel = std::make_unique<QWidget>(AParent);
  Panel->hide();
  Panel->setAutoFillBackground(true);
  SetFill(Panel.get(), QPalette::Window, Panel->palette().color(QPalette::Button));
  Lbl_Heading = new QLabel;
  PlaceOvcLabel(Lbl_Heading, Panel.get());
  Lbl_Heading->move(0, 0);
  Lbl_Heading->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  setName(aName);
}

TShaftPanel::TShaftPanel(QWidget* AParent, IShaftSubject& aShaft, const std::string& aName,
                         const DisplaySettings& aConfigurationManager,
                         std::shared_ptr<IGraphPanel> graph) {
  SetUp(AParent, aName);
  ComPanel = TComActivePanel::Create(Panel.get(), aConfigurationManager, aShaft);
  DataPanel = TDataSetPanel::Create(Panel.get(), aConfigurationManager, aShaft);
  GraphPanel =
      graph ? std::move(graph) : TGraphPanel::Create(Panel.get(), aConfigurationManager, aShaft);
}

TShaftPanel::TShaftPanel(QWidget* AParent, const std::string& aName,
                         const DisplaySettings& aConfigurationManager, TShaftDataSet& aShaftDataSet,
                         std::shared_ptr<IGraphPanel> graph) {
  SetUp(AParent, aName);
  ComPanel = std::make_shared<TComActivePanel>(Panel.get(), aConfigurationManager);
  DataPanel = std::make_shared<TDataSetPanel>(Panel.get(), aConfigurationManager, aShaftDataSet);
  if (graph) {
    GraphPanel = std::move(graph);
    GraphPanel->setRunMode();
  } else {
    GraphPanel = std::make_shared<TGraphPanel>(Panel.get(), aConfigurationManager, aShaftDataSet);
  }
}

TShaftPanel::~TShaftPanel() {
  Panel.reset();
  DataPanel->Disconnect();
  ComPanel->Disconnect();
  if (GraphPanel) GraphPanel->Disconnect();
}

void TShaftPanel::setName(const std::string& newName) {
  SetText(Lbl_Heading, newName);
}
void TShaftPanel::setPosition(int x, int y) {
  Panel->move(x, y);
}
void TShaftPanel::setVisible(bool flag) {
  Panel->setVisible(flag);
}

void TShaftPanel::setSize(int x, int y) {
  const int left = x >= 800 ? 50 : Nearest((x - 400) / 8.0);
  const int dataHeight = y >= 329 ? 47 : Nearest(y / 7.0);
  Panel->resize(x, y);
  ComPanel->setPosition(Panel->width() - ComPanel->getWidth() - 1, 1);
  DataPanel->setPosition(left, 23);
  DataPanel->setSize(x - ComPanel->getWidth() - left - 2, dataHeight);
  if (GraphPanel) {
    GraphPanel->setPosition(1, DataPanel->getTop() + DataPanel->getHeight());
    GraphPanel->setSize(x - 2, y - DataPanel->getHeight() - 25);
  }
}

void TShaftPanel::setRunMode() {
  ComPanel->setVisible(false);
  DataPanel->setRunMode();
  if (GraphPanel) GraphPanel->setRunMode();
}

void TShaftPanel::addStart(TDateTime time, const std::string& Name) {
  if (GraphPanel) GraphPanel->addStart(time, Name);
}
void TShaftPanel::addStop(TDateTime time, const std::string& Name) {
  if (GraphPanel) GraphPanel->addStop(time, Name);
}
void TShaftPanel::deleteLastStart() {
  if (GraphPanel) GraphPanel->deleteLastStart();
}

}  // namespace rvx
