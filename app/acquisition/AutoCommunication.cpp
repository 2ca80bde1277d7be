#include "app/acquisition/AutoCommunication.h"

#include <QFile>
#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <sys/stat.h>
#include <cstdlib>
#include <string_view>

#include "app/acquisition/Sentence.h"
#include "platform/core/Clock.h"
#include "platform/core/Exceptions.h"

namespace rvx {

namespace {

constexpr const char* kUnit = "AutoCommunication";
constexpr const char* kSentenceId = "SPS1";
constexpr const char* kUnrecognized = "Unrecognized string: ";

bool DeviceExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string SerialPortDevice(int aPort) {
  const std::string variable = "RVX_PORT_" + std::to_string(aPort);
  if (const char* device = std::getenv(variable.c_str()); device && *device) return device;
  const std::string usb = "/dev/ttyUSB" + std::to_string(aPort - 1);
  if (DeviceExists(usb)) return usb;
  return "/dev/ttyS" + std::to_string(aPort - 1);
}

TAutoCommunication::TAutoCommunication(LinkServices aDMSystem, int Index)
    : ComPort(std::make_unique<QSerialPort>()),
      FIndex(Index),
      FDMSystem(aDMSystem),
      context_(std::make_unique<QObject>()),
      time_out_timer_(new QTimer(context_.get())) {
  time_out_timer_->setInterval(kTimeOutCheckMs);
  QObject::connect(time_out_timer_, &QTimer::timeout, context_.get(),
                   [this] { CheckSentenceTimeOut(); });
  QObject::connect(ComPort.get(), &QSerialPort::readyRead, context_.get(),
                   [this] { OnReadyRead(); });
  QObject::connect(
      ComPort.get(), &QSerialPort::errorOccurred, context_.get(),
      [this](QSerialPort::SerialPortError error) {
        // A hung-up device reads as end of file, which the port
        // reports as a read error and signals again at every
        // turn of the loop: both end the link.
        if ((error == QSerialPort::ResourceError || error == QSerialPort::ReadError) && IsOpen())
          OnPortLost();
      });
}

TAutoCommunication::~TAutoCommunication() {
  Disconnect();
  ComPort.reset();
  // Freed by an observer while a sentence is in hand: the hand-over that
  // called the observer is still running on context_.
  DisposeQtObject(context_.release(), packagesInQueue > 0);
}

void TAutoCommunication::Connect() {
  if (IsOpen()) Disconnect();
  try {
    const int port = FDMSystem.Settings.GetAutoComPort(FIndex);
    const int baud = FDMSystem.Settings.GetAutoComBaud(FIndex);
    device_ = SerialPortDevice(port);
    ComPort->setPortName(QFile::decodeName(device_.c_str()));
    ComPort->setBaudRate(baud);
    ComPort->setDataBits(QSerialPort::Data8);
    ComPort->setParity(QSerialPort::NoParity);
    ComPort->setStopBits(QSerialPort::OneStop);
    ComPort->setFlowControl(QSerialPort::NoFlowControl);
    if (!ComPort->open(QIODevice::ReadOnly)) {
      throw platform::Exception("Cannot open " + device_ + ": " +
                                ComPort->errorString().toLocal8Bit().toStdString());
    }
    FDataPacket.Reset();
    packet_enabled_ = true;
    time_out_timer_->start();
  } catch (const std::exception& e) {
    FDMSystem.Log.newError(kUnit, "Connect", e.what(), ErrorLog::kLog);
    Disconnect();
  }
}

void TAutoCommunication::Disconnect() {
  packet_enabled_ = false;
  FDataPacket.Reset();
  time_out_timer_->stop();
  if (ComPort->isOpen()) ComPort->close();
}

bool TAutoCommunication::IsOpen() const {
  return packet_enabled_ && ComPort->isOpen();
}

void TAutoCommunication::CheckSentenceTimeOut() {
  FDataPacket.CheckTimeOut(platform::TickCount64());
}

void TAutoCommunication::OnReadyRead() {
  const QByteArray bytes = ComPort->readAll();
  if (!packet_enabled_) return;
  FDataPacket.Feed(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                   platform::TickCount64());
  if (FDataPacket.Pending() == 0 || take_posted_) return;
  // Observers run from the event loop, not inside the port's signal: the
  // port does not signal again until its handler returns, and readings must
  // go on while an observer shows a box.
  take_posted_ = true;
  QMetaObject::invokeMethod(
      context_.get(),
      [this] {
        take_posted_ = false;
        TakeSentences();
      },
      Qt::QueuedConnection);
}

void TAutoCommunication::OnPortLost() {
  // The device went away (an adapter unplugged): the link closes as if it
  // had not opened, and says why.
  const std::string message = device_ + ": " + ComPort->errorString().toLocal8Bit().toStdString();
  Disconnect();
  try {
    FDMSystem.Log.newError(kUnit, "OnPortError", message, ErrorLog::kLog);
  } catch (...) {
    ReportHandlerError(FDMSystem, kUnit, "OnPortError", CurrentExceptionMessage());
  }
}

void TAutoCommunication::TakeSentences() {
  const std::weak_ptr<void> alive = AliveToken();
  std::string sentence;
  while (packet_enabled_ && FDataPacket.Next(sentence)) {
    OnStringPacket(sentence);
    if (alive.expired()) return;
  }
}

void TAutoCommunication::OnStringPacket(const std::string& Data) {
  RunHandler(FDMSystem, packagesInQueue, kUnit, "OnStringPacket", [&] {
    if (packagesInQueue > kMaxPackagesInQueue) return;
    std::optional<DataSet::TDataSet> reading;
    if (IsSentence(Data, kSentenceId))
      reading = ExtractSPS(Data);
    else
      FDMSystem.Log.newError(kUnit, "OnStringPacket", kUnrecognized + Data, ErrorLog::kLog);
    if (reading) NotifyObservers(*reading);
  });
}

std::optional<DataSet::TDataSet> TAutoCommunication::ExtractSPS(const std::string& text) {
  DataSet::TDataSet reading;
  reading.RawData = text;
  try {
    std::string s = text;
    NextToken(s);
    NextToken(s);
    double unused = 0;
    bool ok = true;
    reading.Torque = NextDataValueToken(s, reading.Time);
    NextFloatToken(s, unused, ok);
    reading.Speed = NextDataValueToken(s, reading.Time);
    reading.Power = NextDataValueToken(s, reading.Time);
    NextFloatToken(s, unused, ok);
    NextFloatToken(s, unused, ok);
    const std::string received = NextToken(s);
    // The body lies between "$" and the first "*".
    const std::size_t star = text.find('*');
    const std::string_view body = star == std::string::npos || star < 1
                                      ? std::string_view()
                                      : std::string_view(text).substr(1, star - 1);
    if (received != SentenceChecksum(body)) reading.HasCheckSumError = true;
  } catch (const ESentenceEnded&) {
    FDMSystem.Log.newError(kUnit, "ExtractSPS", kUnrecognized + reading.RawData, ErrorLog::kLog);
    return std::nullopt;
  }
  return reading;
}

}  // namespace rvx
