// TAutoCommunication: the link to a meter unit on a serial port, which sends
// one text sentence per reading (see Sentence.h for the format).
//
// Port number N is the device in $RVX_PORT_<N> when that is set, else
// /dev/ttyUSB<N-1> when present, else /dev/ttyS<N-1>. Connect reads the
// shaft's stored port and baud rate (creating the row with its defaults),
// opens the port read-only at 8N1 without flow control and frames what
// arrives (SentenceFramer, time-out from the installed clock). A port that
// does not open gives one ErrorLog row ("AutoCommunication", "Connect") and
// leaves the link closed until the next Connect.
//
// Each framed sentence goes through OnStringPacket on the GUI thread, from
// the event loop (never inside the port's own signal), so readings keep
// coming while an observer shows a modal box:
//   - not an SPS1 sentence: ErrorLog row "Unrecognized string: " + text
//     (function "OnStringPacket"), dropped;
//   - an SPS1 sentence that ends before its checksum field, or has no CR
//     before its LF: the same row from "ExtractSPS", dropped;
//   - otherwise a reading (a field that does not read leaves its value
//     absent; a checksum mismatch only sets HasCheckSumError) goes to the
//     observers;
//   - while 19 sentences are in hand (handling re-entered through the message
//     loop) a further one is dropped without a row;
//   - an exception from an observer or the log is caught after the count of
//     sentences in hand is lowered and reported through ReportHandlerError.
// A port that fails while open (an adapter unplugged, the other end of a
// pty gone: a resource or read error) is closed with one ErrorLog row
// ("AutoCommunication", "OnPortError"); the next Connect opens it again.
//
// Thread safety: GUI thread only (see Communication.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/acquisition/Communication.h"
#include "app/acquisition/SentenceFramer.h"

class QObject;
class QSerialPort;
class QTimer;

namespace rvx {

// The device path of serial port number aPort (see above).
std::string SerialPortDevice(int aPort);

class TAutoCommunication : public TCommunication {
 public:
  // At most this many sentences are in hand at once.
  static constexpr int kMaxPackagesInQueue = 19;
  // How often a stalled sentence is looked for, in ms.
  static constexpr int kTimeOutCheckMs = 500;

  // The link of shaft Index (0 or 1); closed until Connect.
  TAutoCommunication(LinkServices aDMSystem, int Index);
  ~TAutoCommunication() override;

  void Connect() override;
  void Disconnect() override;

  // Handles one framed sentence, "$" to LF inclusive, as received.
  void OnStringPacket(const std::string& Data);
  // Decodes an SPS1 sentence; nothing (after an ErrorLog row) when it is cut
  // short.
  std::optional<DataSet::TDataSet> ExtractSPS(const std::string& text);

  // The port is open and its sentences are framed.
  bool IsOpen() const;
  // The device the port opened (empty before the first Connect).
  const std::string& Device() const { return device_; }
  int PackagesInQueue() const { return packagesInQueue; }
  // The port (its settings and state; the link alone opens and reads it).
  const QSerialPort* SerialPort() const { return ComPort.get(); }
  // The framer, for its counters.
  const SentenceFramer& DataPacket() const { return FDataPacket; }
  // Drops a stalled sentence now; the link's timer calls it too.
  void CheckSentenceTimeOut();

 private:
  void OnReadyRead();
  void OnPortLost();
  void TakeSentences();

  std::unique_ptr<QSerialPort> ComPort;
  SentenceFramer FDataPacket;
  bool packet_enabled_ = false;
  int packagesInQueue = 0;
  int FIndex;
  LinkServices FDMSystem;
  std::string device_;
  // Receives the port's signals and the queued hand-over of sentences; owns
  // the time-out timer.
  std::unique_ptr<QObject> context_;
  QTimer* time_out_timer_;
  bool take_posted_ = false;
};

}  // namespace rvx
