// The link setup dialog TFrm_SetupComPorts and its per-shaft frame
// TFrame_ComPort.
//
// A frame (286 x 105) shows the shaft's link mode in a drop-down list of the
// configuration manager's modes (no selection for a mode outside that list)
// and a Setup button. Setup opens the settings dialog of the mode chosen in
// the list, saved or not: the simulated meter's for "Demo", the serial
// link's for any other; what that dialog returns is stored at once, so a
// later Cancel of the link setup dialog does not undo it.
//
// The dialog places one frame per shaft side by side (width shafts x 289 +
// 20, height 235). OK disconnects each shaft in turn, stores the mode its
// frame shows and connects it again, so the shaft builds its link anew from
// the stored settings. A frame without a selection keeps the shaft's stored
// mode, and the shaft is connected again all the same. Cancel stores no mode
// and touches no link.
//
// Errors: the settings store's errors pass to the caller; when storing a
// shaft's mode fails, that shaft is connected again on its stored mode
// first, the later shafts are left as they were and the dialog stays open.
// A port that cannot be opened is the link's to report.
//
// Thread safety: GUI thread only.
#pragma once

#include <QFrame>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "app/util/ControlStyle.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace rvx {

class DisplaySettings;
class IShaft;
class LinkSettingsStore;

class TFrame_ComPort : public QFrame {
  Q_OBJECT

 public:
  static constexpr int kFrameWidth = 286;
  static constexpr int kFrameHeight = 105;
  static constexpr int kSetupButtonHeight = 36;

  // aNumberOfShafts decides the header ("Com Port Setup" for one shaft, else
  // "... (Port)" / "... (Starboard)" by the shaft's ID). The references must
  // outlive the frame.
  TFrame_ComPort(QWidget* AOwner, DisplaySettings& aConfigurationManager,
                 LinkSettingsStore& aDMSystem, std::shared_ptr<IShaft> aShaft,
                 int aNumberOfShafts = 1);

  // Opens the setup dialog of the mode chosen now and stores its result.
  void Btn_SetupClick();

  // The mode chosen in the list; empty when nothing is selected.
  std::string ComMode() const;

  QFrame* Panel1;
  QLabel* Lbl_Header;
  QLabel* Lbl_Mode;
  QComboBox* CB_Mode;
  QPushButton* Btn_Setup;

 private:
  void ShowDemoComSetup();
  void ShowAutoComSetup();

  LinkSettingsStore& FDMSystem;
  DisplaySettings& FConfigurationManager;
  std::shared_ptr<IShaft> FShaft;
};

class TFrm_SetupComPorts : public TFormAC {
  Q_OBJECT

 public:
  static constexpr int kMaxShafts = 2;

  // One frame per shaft of aShaftList (at most two are shown).
  TFrm_SetupComPorts(QWidget* AOwner, DisplaySettings& aConfigurationManager,
                     LinkSettingsStore& aDMSystem, std::vector<std::shared_ptr<IShaft>> aShaftList);

  // Disconnects, stores the mode and reconnects each shaft in order, then
  // closes with OK.
  void Btn_OKClick();

  QPushButton* Btn_OK;
  QPushButton* Btn_Cancel;
  // Null where the vessel has no such shaft.
  std::array<TFrame_ComPort*, kMaxShafts> Frame_ComSetup{};

 private:
  void FormCreate();

  DisplaySettings& FConfigurationManager;
  LinkSettingsStore& FDMSystem;
  std::vector<std::shared_ptr<IShaft>> FShaftList;
};

}  // namespace rvx
