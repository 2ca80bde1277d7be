// ShaftPanel: the panels of one shaft on the right of the main window: a
// heading, the communication panel (a light that is on while the shaft has
// communication, and the error rate over the latest readings), the numeric
// panel (moving averages of power, speed and torque in display units with
// their percentage of the vessel's MCR) and the graph panel.
//
// Live panels observe their shaft; stored-run panels show one recorded run
// (its filtered means) and observe nothing. A value that does not exist (no
// average, an average of exactly 0, no communication) shows "NA"; "N/A" is
// only the first text before the first update. An MCR of 0 in display units
// gives "NA" in place of the percentage number ("Torque (NA%)"), since the
// percentage divides by it.
//
// Ownership: the shaft panel owns Panel and so every control of its
// sub-panels; the sub-panels are shared with the shaft's observer list and
// hold their controls through guarded pointers, so a sub-panel outliving its
// controls does nothing.
//
// Thread safety: GUI thread only.
#pragma once

#include <QColor>
#include <QPointer>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/acquisition/Shaft.h"

class QLabel;
class QWidget;

namespace rvx {

class DisplaySettings;
class TShaftDataSet;

// The graph panel as the shaft panel sees it.
class IGraphPanel {
 public:
  virtual ~IGraphPanel() = default;
  virtual void setPosition(int x, int y) = 0;
  virtual void setSize(int x, int y) = 0;
  virtual void setRunMode() = 0;
  virtual void addStart(TDateTime time, const std::string& Name) = 0;
  virtual void addStop(TDateTime time, const std::string& Name) = 0;
  // Shows Min .. Max on the time axis.
  virtual void setTimeLine(TDateTime Min, TDateTime Max) = 0;
  virtual void deleteLastStart() = 0;
  virtual void Disconnect() = 0;
};

class IComActivePanel {
 public:
  virtual ~IComActivePanel() = default;
  virtual void setPosition(int x, int y) = 0;
  virtual void setVisible(bool flag) = 0;
  virtual int getWidth() const = 0;
  virtual void Disconnect() = 0;
};

class IDataSetPanel {
 public:
  virtual ~IDataSetPanel() = default;
  virtual void setPosition(int x, int y) = 0;
  virtual void setSize(int x, int y) = 0;
  virtual void setRunMode() = 0;
  virtual int getHeight() const = 0;
  virtual int getTop() const = 0;
  virtual void Disconnect() = 0;
};

// The communication panel: 150 x 69, "RVX Com." with its light at left 130,
// and "Error rate: x%" over the latest DataWindowSize readings.
class TComActivePanel : public IShaftObserver, public IComActivePanel {
 public:
  // Live: registered with aShaft and shown.
  static std::shared_ptr<TComActivePanel> Create(QWidget* AParent,
                                                 const DisplaySettings& aConfigurationManager,
                                                 IShaftSubject& aShaft);
  // Stored run: hidden, observes nothing.
  TComActivePanel(QWidget* AParent, const DisplaySettings& aConfigurationManager);

  void UpdateValues(const TDataValue* aPower, const TDataValue* aTorque,
                    const TDataValue* aSpeed) override;
  void UpdateRunningAverageValues(const TDataValue*, const TDataValue*,
                                  const TDataValue*) override {}
  void UpdateHasCommunication(bool aHasCommunication) override;
  void UpdateCheckSumError(int, const std::string&, const TDataValue*, const TDataValue*,
                           const TDataValue*) override {}
  void UpdateTorqueError(int, const std::string&, const TDataValue*, const TDataValue*,
                         const TDataValue*) override {}

  void setPosition(int x, int y) override;
  void setVisible(bool flag) override;
  int getWidth() const override;
  void Disconnect() override;

  // One reading's flag into the window, then the label.
  void UpdateErrorRate(bool isError);

  QPointer<QWidget> Panel;
  QPointer<QLabel> Lbl_Com;
  QPointer<QWidget> LED_Com;
  QPointer<QLabel> Lbl_TotalErrorRate;

 private:
  IShaftSubject* FShaft = nullptr;
  const DisplaySettings& FConfigurationManager;
  std::vector<bool> FErrorStack;  // oldest first
};

// One quantity: its name and percentage above its value and unit.
class TDataPointPanel {
 public:
  TDataPointPanel(QWidget* AParent, const std::string& newDataName, QColor newColor);

  // percent absent: "NA" in place of the number (an MCR of 0).
  void setData(double aValue, std::optional<double> aPercentOfMcr);
  void setDataNA();
  void setUnit(const std::string& newDataUnit) { dataUnit = newDataUnit; }
  void setPosition(int x, int y);
  void setSize(int x, int y);
  int getHeight() const;
  int getDataFontHeight() const;
  int getDataTop() const;

  QPointer<QWidget> Panel;
  QPointer<QLabel> Lbl_DataName;
  QPointer<QLabel> Lbl_Data;

 private:
  std::string dataUnit;
  std::string FDataName;
};

class TDataSetPanel : public IShaftObserver, public IDataSetPanel {
 public:
  static std::shared_ptr<TDataSetPanel> Create(QWidget* AParent,
                                               const DisplaySettings& aConfigurationManager,
                                               IShaftSubject& aShaft);
  // Stored run: the filtered means of the data set.
  TDataSetPanel(QWidget* AParent, const DisplaySettings& aConfigurationManager,
                TShaftDataSet& aShaftDataSet);
  TDataSetPanel(QWidget* AParent, const DisplaySettings& aConfigurationManager);

  void UpdateValues(const TDataValue*, const TDataValue*, const TDataValue*) override {}
  void UpdateRunningAverageValues(const TDataValue* aPower, const TDataValue* aTorque,
                                  const TDataValue* aSpeed) override;
  void UpdateHasCommunication(bool aHasCommunication) override;
  void UpdateCheckSumError(int, const std::string&, const TDataValue*, const TDataValue*,
                           const TDataValue*) override {}
  void UpdateTorqueError(int, const std::string&, const TDataValue*, const TDataValue*,
                         const TDataValue*) override {}

  void setPosition(int x, int y) override;
  void setSize(int x, int y) override;
  void setRunMode() override;
  int getHeight() const override;
  int getTop() const override;
  void Disconnect() override;
  void setUnits(const std::string& Units);

  QPointer<QLabel> Lbl_State;
  QPointer<QWidget> Panel;
  std::unique_ptr<TDataPointPanel> Power;
  std::unique_ptr<TDataPointPanel> Speed;
  std::unique_ptr<TDataPointPanel> Torque;
  bool RunMode = false;

 private:
  void ShowRunningAverage(TDataPointPanel& point, const TDataValue* value, int mcr, double factor);
  void ShowShown(TDataPointPanel& point, double shown, int mcr);
  void SetAllNA();

  IShaftSubject* FShaft = nullptr;
  const DisplaySettings& FConfigurationManager;
};

class TShaftPanel {
 public:
  // Live: communication, numeric and graph panels registered in that order.
  // Without graph, a graph panel of its own (TGraphPanel) observes the shaft.
  TShaftPanel(QWidget* AParent, IShaftSubject& aShaft, const std::string& aName,
              const DisplaySettings& aConfigurationManager,
              std::shared_ptr<IGraphPanel> graph = nullptr);
  // Stored run; without graph, the run's own graph panel.
  TShaftPanel(QWidget* AParent, const std::string& aName,
              const DisplaySettings& aConfigurationManager, TShaftDataSet& aShaftDataSet,
              std::shared_ptr<IGraphPanel> graph = nullptr);
  TShaftPanel(const TShaftPanel&) = delete;
  TShaftPanel& operator=(const TShaftPanel&) = delete;
  ~TShaftPanel();

  void setName(const std::string& newName);
  void setPosition(int x, int y);
  void setVisible(bool flag);
  void setSize(int x, int y);
  void setRunMode();
  void addStart(TDateTime time, const std::string& Name);
  void addStop(TDateTime time, const std::string& Name);
  void deleteLastStart();

  std::unique_ptr<QWidget> Panel;
  QLabel* Lbl_Heading = nullptr;
  std::shared_ptr<TComActivePanel> ComPanel;
  std::shared_ptr<TDataSetPanel> DataPanel;
  std::shared_ptr<IGraphPanel> GraphPanel;

 private:
  void SetUp(QWidget* AParent, const std::string& aName);
};

}  // namespace rvx
