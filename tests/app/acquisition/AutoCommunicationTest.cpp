// The serial meter link: decoding and logging without a port, then framing,
// time-out, settings and failures through real socat pseudo-terminals.
#include "app/acquisition/AutoCommunication.h"

#include <gtest/gtest.h>

#include <QSerialPort>

#include <termios.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Clock.h"
#include "platform/core/Exceptions.h"
#include "tests/app/support/LinkTestKit.h"
#include "tests/app/support/QtTestApplication.h"

namespace rvx {
namespace {

using test::MeterSentence;
using test::RecordingLinkObserver;
using test::WaitUntil;

struct LogRow {
  std::string function;
  std::string message;
  friend bool operator==(const LogRow&, const LogRow&) = default;
};

// What one sentence gives: a reading (values, flag) or none, and log rows.
struct Outcome {
  bool delivered = false;
  std::optional<double> torque, speed, power;
  bool checksum_error = false;
  std::string raw_data;
  std::vector<LogRow> rows;
};

std::ostream& operator<<(std::ostream& os, const LogRow& row) {
  return os << row.function << ": " << row.message;
}

std::string Cut60(const std::string& text) {
  return text.substr(0, 60);
}

LogRow Unrecognized(const char* function, const std::string& text) {
  return {function, Cut60("Unrecognized string: " + text)};
}

std::optional<double> ValueOf(const std::optional<TDataValue>& v) {
  return v ? std::optional<double>(v->Value()) : std::nullopt;
}

struct DecodeCase {
  const char* name;
  std::string sentence;
  Outcome expected;
};

std::string Body256() {
  // Field 2 pads the body to exactly 256 characters.
  const std::string tail = ",100.5,0,85.2,900,0,0";
  const std::string head = "SPS1,";
  return head + std::string(256 - head.size() - tail.size(), 'p') + tail;
}

std::vector<DecodeCase> DecodeCases() {
  std::vector<DecodeCase> cases;
  auto reading = [](std::optional<double> torque, std::optional<double> speed,
                    std::optional<double> power, bool flagged) {
    Outcome o;
    o.delivered = true;
    o.torque = torque;
    o.speed = speed;
    o.power = power;
    o.checksum_error = flagged;
    return o;
  };
  auto dropped = [](LogRow row) {
    Outcome o;
    o.rows.push_back(std::move(row));
    return o;
  };
  const std::string listed = "$SPS1,1,100.5,0,85.2,900,0,0*76\r\n";
  cases.push_back({"listed_sentence", listed, reading(100.5, 85.2, 900, false)});
  cases.push_back({"fields_2_4_7_8_do_not_matter",
                   MeterSentence("SPS1,anything,100.5,x,85.2,900,y,z"),
                   reading(100.5, 85.2, 900, false)});
  cases.push_back({"lower_case_checksum", "$SPS1,5,100.5,0,85.2,900,0,0*7a\r\n",
                   reading(100.5, 85.2, 900, true)});
  cases.push_back(
      {"wrong_checksum", "$SPS1,1,100.5,0,85.2,900,0,0*77\r\n", reading(100.5, 85.2, 900, true)});
  // The comma ends the torque field; every later field moves one place.
  cases.push_back(
      {"decimal_comma", MeterSentence("SPS1,1,12,5,0,85.2,900,0,0"), reading(12, 0, 85.2, true)});
  cases.push_back({"empty_torque", MeterSentence("SPS1,1,,0,85.2,900,0,0"),
                   reading(std::nullopt, 85.2, 900, false)});
  cases.push_back({"letter_torque", MeterSentence("SPS1,1,abc,0,85.2,900,0,0"),
                   reading(std::nullopt, 85.2, 900, false)});
  cases.push_back({"trailing_blank_torque", MeterSentence("SPS1,1,100.5 ,0,85.2,900,0,0"),
                   reading(std::nullopt, 85.2, 900, false)});
  cases.push_back({"letter_speed_and_power", MeterSentence("SPS1,1,100.5,0,fast,much,0,0"),
                   reading(100.5, std::nullopt, std::nullopt, false)});
  cases.push_back({"rvm_form", MeterSentence("RVM,SPS1,100.5,0,85.2,900,0,0"),
                   reading(100.5, 85.2, 900, false)});
  // A byte of the code page's high half sums as the byte it is.
  cases.push_back({"byte_0x80_in_field_2", MeterSentence("SPS1,\x80,100.5,0,85.2,900,0,0"),
                   reading(100.5, 85.2, 900, false)});
  cases.push_back({"byte_0x9f_in_field_2", MeterSentence("SPS1,\x9f\x81,100.5,0,85.2,900,0,0"),
                   reading(100.5, 85.2, 900, false)});
  cases.push_back({"body_of_256_has_checksum_00", "$" + Body256() + "*00\r\n",
                   reading(100.5, 85.2, 900, false)});
  cases.push_back(
      {"no_star_compares_with_empty_body", "$SPS1,1,2,3,4,5,6,7,99\r\n", reading(2, 4, 5, true)});
  const std::string short_one = "$SPS1,1,2,3\r\n";
  cases.push_back({"too_short", short_one, dropped(Unrecognized("ExtractSPS", short_one))});
  const std::string lf_only = "$SPS1,1,100.5,0,85.2,900,0,0*76\n";
  cases.push_back({"lf_without_cr", lf_only, dropped(Unrecognized("ExtractSPS", lf_only))});
  const std::string gpgga = "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n";
  cases.push_back({"other_device", gpgga, dropped(Unrecognized("OnStringPacket", gpgga))});
  cases.push_back({"dollar_lf", "$\n", dropped(Unrecognized("OnStringPacket", "$\n"))});
  for (DecodeCase& c : cases)
    if (c.expected.delivered) c.expected.raw_data = c.sentence;
  return cases;
}

// Turns what the observer and the log saw into one outcome per sentence,
// given the number of readings and rows before each.
class OutcomeRecorder {
 public:
  OutcomeRecorder(RecordingLinkObserver& observer, const test::ErrorRows& log)
      : observer_(observer), log_(log) {}
  void Mark() {
    readings_at_ = observer_.readings.size();
    rows_at_ = log_.Rows().size();
  }
  Outcome Since() const {
    Outcome o;
    EXPECT_LE(observer_.readings.size(), readings_at_ + 1);
    if (observer_.readings.size() > readings_at_) {
      const DataSet::TDataSet& r = observer_.readings[readings_at_];
      o.delivered = true;
      o.torque = ValueOf(r.Torque);
      o.speed = ValueOf(r.Speed);
      o.power = ValueOf(r.Power);
      o.checksum_error = r.HasCheckSumError;
      o.raw_data = r.RawData;
      for (const auto* v : {&r.Torque, &r.Speed, &r.Power})
        if (*v) {
          EXPECT_EQ((*v)->Time(), r.Time);
          EXPECT_FALSE((*v)->IsError());
        }
    }
    const auto rows = log_.Rows();
    for (std::size_t i = rows_at_; i < rows.size(); ++i) {
      const auto& row = rows[i];
      EXPECT_EQ(row.UnitName, "AutoCommunication");
      o.rows.push_back({row.FunctionName, row.Message});
    }
    return o;
  }

 private:
  RecordingLinkObserver& observer_;
  const test::ErrorRows& log_;
  std::size_t readings_at_ = 0;
  std::size_t rows_at_ = 0;
};

void ExpectOutcome(const Outcome& got, const Outcome& expected) {
  EXPECT_EQ(got.delivered, expected.delivered);
  EXPECT_EQ(got.torque, expected.torque);
  EXPECT_EQ(got.speed, expected.speed);
  EXPECT_EQ(got.power, expected.power);
  EXPECT_EQ(got.checksum_error, expected.checksum_error);
  EXPECT_EQ(got.raw_data, expected.raw_data);
  EXPECT_EQ(got.rows, expected.rows);
}

class AutoCommunicationTest : public ::testing::TestWithParam<test::SeamBackend> {
 protected:
  void SetUp() override { test::EnsureQtApplication(); }

  // Writes the sentence, then a sentinel, and waits for the sentinel: what
  // came before it has been handled.
  void FeedAndSettle(test::SocatPair& pty, RecordingLinkObserver& observer,
                     const std::string& bytes) {
    const std::string sentinel =
        MeterSentence("SPS1,sentinel" + std::to_string(++sentinels_) + ",1,0,1,1,0,0");
    pty.Write(bytes);
    pty.Write(sentinel);
    ASSERT_TRUE(WaitUntil([&] {
      return !observer.readings.empty() && observer.readings.back().RawData == sentinel;
    })) << "the sentinel never arrived";
    observer.readings.pop_back();
  }

  test::LinkTestBench bench_{GetParam()};
  int sentinels_ = 0;
};

TEST_P(AutoCommunicationTest, DecodingTableWithoutAPort) {
  TAutoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  OutcomeRecorder recorder(observer, bench_.errors);
  for (const DecodeCase& c : DecodeCases()) {
    SCOPED_TRACE(c.name);
    recorder.Mark();
    link.OnStringPacket(c.sentence);
    ExpectOutcome(recorder.Since(), c.expected);
  }
  EXPECT_EQ(link.PackagesInQueue(), 0);
}

TEST_P(AutoCommunicationTest, DecodingTableThroughAPty) {
  test::SocatPair& pty = bench_.StartMeter(1);
  TAutoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  link.Connect();
  ASSERT_TRUE(link.IsOpen()) << (bench_.errors.Rows().empty() ? ""
                                                              : bench_.errors.Rows()[0].Message);
  EXPECT_EQ(link.Device(), pty.Meter());
  OutcomeRecorder recorder(observer, bench_.errors);
  for (const DecodeCase& c : DecodeCases()) {
    SCOPED_TRACE(c.name);
    recorder.Mark();
    FeedAndSettle(pty, observer, c.sentence);
    ExpectOutcome(recorder.Since(), c.expected);
  }
}

TEST_P(AutoCommunicationTest, FramingThroughAPty) {
  test::SocatPair& pty = bench_.StartMeter(1);
  TAutoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  link.Connect();
  ASSERT_TRUE(link.IsOpen());
  const std::string a = MeterSentence("SPS1,a,10,0,80,800,0,0");
  const std::string b = MeterSentence("SPS1,b,11,0,81,801,0,0");
  const std::string c = MeterSentence("SPS1,c,12,0,82,802,0,0");
  auto raw = [&] {
    std::vector<std::string> texts;
    for (const auto& r : observer.readings)
      texts.push_back(r.RawData);
    return texts;
  };

  {
    SCOPED_TRACE("whole sentences in one write");
    FeedAndSettle(pty, observer, a + b + c);
    EXPECT_EQ(raw(), (std::vector<std::string>{a, b, c}));
    observer.readings.clear();
  }
  {
    SCOPED_TRACE("a sentence split across writes");
    pty.Write(a.substr(0, 9));
    ASSERT_TRUE(WaitUntil([&] { return link.DataPacket().InSentence(); }));
    FeedAndSettle(pty, observer, a.substr(9));
    EXPECT_EQ(raw(), std::vector<std::string>{a});
    observer.readings.clear();
  }
  {
    SCOPED_TRACE("garbage before the dollar");
    FeedAndSettle(pty, observer, std::string("noise\x01\x02\r\n,*") + b);
    EXPECT_EQ(raw(), std::vector<std::string>{b});
    observer.readings.clear();
  }
  EXPECT_TRUE(bench_.errors.Rows().empty());
  {
    SCOPED_TRACE("dollar then line feed, and a $GPGGA line");
    const std::string gpgga = "$GPGGA,123519,4807.038,N*47\r\n";
    FeedAndSettle(pty, observer, "$\n" + gpgga);
    EXPECT_TRUE(observer.readings.empty());
    ASSERT_EQ(bench_.errors.Rows().size(), 2u);
    EXPECT_EQ(bench_.errors.Rows()[0].FunctionName, "OnStringPacket");
    EXPECT_EQ(bench_.errors.Rows()[0].Message, "Unrecognized string: $\n");
    EXPECT_EQ(bench_.errors.Rows()[1].Message, Cut60("Unrecognized string: " + gpgga));
  }
  {
    SCOPED_TRACE("a body of 256 characters");
    const std::string long_one = "$" + Body256() + "*00\r\n";
    FeedAndSettle(pty, observer, long_one);
    ASSERT_EQ(observer.readings.size(), 1u);
    EXPECT_EQ(observer.readings[0].RawData, long_one);
    EXPECT_FALSE(observer.readings[0].HasCheckSumError);
    observer.readings.clear();
  }
  EXPECT_EQ(bench_.errors.Rows().size(), 2u);
  EXPECT_EQ(link.DataPacket().TimedOut(), 0u);
}

TEST_P(AutoCommunicationTest, ASentenceCompletedAfterTheTimeOutIsDroppedWithoutARow) {
  platform::FakeClock clock(1000);
  platform::ScopedClock scoped(clock);
  test::SocatPair& pty = bench_.StartMeter(1);
  TAutoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  link.Connect();
  ASSERT_TRUE(link.IsOpen());
  const std::string a = MeterSentence("SPS1,late,10,0,80,800,0,0");

  // Checked as the rest arrives.
  pty.Write(a.substr(0, 12));
  ASSERT_TRUE(WaitUntil([&] { return link.DataPacket().InSentence(); }));
  clock.Advance(6000);
  FeedAndSettle(pty, observer, a.substr(12));
  EXPECT_TRUE(observer.readings.empty());
  EXPECT_TRUE(bench_.errors.Rows().empty());
  EXPECT_EQ(link.DataPacket().TimedOut(), 1u);

  // Checked by the link's timer while nothing arrives.
  pty.Write(a.substr(0, 12));
  ASSERT_TRUE(WaitUntil([&] { return link.DataPacket().InSentence(); }));
  clock.Advance(6000);
  ASSERT_TRUE(WaitUntil([&] { return link.DataPacket().TimedOut() == 2; }));
  FeedAndSettle(pty, observer, a.substr(12));
  EXPECT_TRUE(observer.readings.empty());
  EXPECT_TRUE(bench_.errors.Rows().empty());

  // Just inside the time-out the sentence stands.
  pty.Write(a.substr(0, 12));
  ASSERT_TRUE(WaitUntil([&] { return link.DataPacket().InSentence(); }));
  clock.Advance(SentenceFramer::kTimeOutMs - 1);
  FeedAndSettle(pty, observer, a.substr(12));
  ASSERT_EQ(observer.readings.size(), 1u);
  EXPECT_EQ(observer.readings[0].RawData, a);
}

TEST_P(AutoCommunicationTest, ConnectUsesTheStoredPortAndBaudAt8N1) {
  test::SocatPair& pty = bench_.StartMeter(2);
  bench_.SetPortDevice(1, bench_.dirs.File("no-meter-on-port-1"));
  TAutoCommunication link(bench_.services, 0);
  link.Connect();
  // The first read made the row with its defaults: port 1, 4800 baud.
  EXPECT_EQ(bench_.settings.GetAutoComPort(0), 1);
  EXPECT_EQ(bench_.settings.GetAutoComBaud(0), 4800);
  EXPECT_FALSE(link.IsOpen());
  EXPECT_EQ(bench_.errors.Rows().size(), 1u);

  bench_.settings.SetAutoComSettings(0, 9600, 2);
  link.Connect();
  ASSERT_TRUE(link.IsOpen());
  EXPECT_EQ(link.Device(), pty.Meter());
  termios tio{};
  ASSERT_EQ(tcgetattr(link.SerialPort()->handle(), &tio), 0);
  EXPECT_EQ(cfgetispeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
}

TEST_P(AutoCommunicationTest, APortThatDoesNotOpenGivesOneRowAndStaysClosed) {
  const std::string missing = bench_.dirs.File("no-such-meter");
  bench_.SetPortDevice(1, missing);
  TAutoCommunication link(bench_.services, 0);
  link.Connect();
  EXPECT_FALSE(link.IsOpen());
  ASSERT_EQ(bench_.errors.Rows().size(), 1u);
  const auto row = bench_.errors.Rows()[0];
  EXPECT_EQ(row.UnitName, "AutoCommunication");
  EXPECT_EQ(row.FunctionName, "Connect");
  EXPECT_EQ(row.Message, Cut60("Cannot open " + missing + ": " +
                               link.SerialPort()->errorString().toStdString()));
  EXPECT_TRUE(bench_.box.Log().empty());
  link.Disconnect();
  EXPECT_EQ(bench_.errors.Rows().size(), 1u);
}

TEST_P(AutoCommunicationTest, APortThatGoesAwayClosesTheLinkWithOneRow) {
  test::SocatPair& pty = bench_.StartMeter(1);
  TAutoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  link.Connect();
  ASSERT_TRUE(link.IsOpen());
  FeedAndSettle(pty, observer, MeterSentence("SPS1,1,1,0,1,1,0,0"));
  // The adapter is pulled: the other end of the pty goes.
  pty.Stop();
  ASSERT_TRUE(WaitUntil([&] { return !link.IsOpen(); }));
  ASSERT_EQ(bench_.errors.Rows().size(), 1u);
  EXPECT_EQ(bench_.errors.Rows()[0].UnitName, "AutoCommunication");
  EXPECT_EQ(bench_.errors.Rows()[0].FunctionName, "OnPortError");
  EXPECT_EQ(bench_.errors.Rows()[0].Message.rfind(pty.Meter() + ": ", 0), 0u);
  EXPECT_EQ(observer.readings.size(), 1u);
}

TEST_P(AutoCommunicationTest, SerialPortDeviceFollowsTheEnvironmentThenTheDevicesPresent) {
  {
    test::ScopedEnv env("RVX_PORT_7", std::string("/some/where/meter"));
    EXPECT_EQ(SerialPortDevice(7), "/some/where/meter");
  }
  {
    test::ScopedEnv env("RVX_PORT_7", std::string(""));
    test::ScopedEnv none("RVX_PORT_98", std::nullopt);
    // No adapter has 98 ports before it: the built-in port stands in.
    EXPECT_EQ(SerialPortDevice(98), "/dev/ttyS97");
    EXPECT_EQ(SerialPortDevice(7),
              access("/dev/ttyUSB6", F_OK) == 0 ? "/dev/ttyUSB6" : "/dev/ttyS6");
  }
}

TEST_P(AutoCommunicationTest, AtMost19SentencesAreInHand) {
  TAutoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  int attempts = 0;
  // Each reading hands the link the next sentence before it returns, as a
  // nested message loop would.
  observer.on_reading = [&](DataSet::TDataSet&) {
    if (++attempts < 30) link.OnStringPacket(MeterSentence("SPS1,n,1,0,1,1,0,0"));
  };
  link.RegisterObserver(&observer);
  link.OnStringPacket(MeterSentence("SPS1,n,1,0,1,1,0,0"));
  EXPECT_EQ(observer.readings.size(), 19u);
  EXPECT_TRUE(bench_.errors.Rows().empty()) << "dropped without a row";
  EXPECT_EQ(link.PackagesInQueue(), 0);
}

TEST_P(AutoCommunicationTest, AnObserverExceptionIsReportedAfterTheCountDrops) {
  TAutoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  int in_hand_when_failed = -1;
  observer.on_reading = [&](DataSet::TDataSet&) {
    in_hand_when_failed = link.PackagesInQueue();
    throw platform::Exception("Table is locked");
  };
  link.RegisterObserver(&observer);
  bench_.box.ExpectErrors(1);
  EXPECT_NO_THROW(link.OnStringPacket(MeterSentence("SPS1,1,1,0,1,1,0,0")));
  EXPECT_EQ(in_hand_when_failed, 1);
  EXPECT_EQ(link.PackagesInQueue(), 0);
  ASSERT_EQ(bench_.errors.Rows().size(), 1u);
  EXPECT_EQ(bench_.errors.Rows()[0].UnitName, "AutoCommunication");
  EXPECT_EQ(bench_.errors.Rows()[0].FunctionName, "OnStringPacket");
  EXPECT_EQ(bench_.errors.Rows()[0].Message, "Table is locked");
  EXPECT_EQ(bench_.box.Log(), std::vector<std::string>{"error:Table is locked"});
  bench_.box.ExpectDone();
}

TEST_P(AutoCommunicationTest, DisconnectStopsReadingsAndConnectStartsAgain) {
  test::SocatPair& pty = bench_.StartMeter(1);
  TAutoCommunication link(bench_.services, 0);
  RecordingLinkObserver observer;
  link.RegisterObserver(&observer);
  link.Connect();
  ASSERT_TRUE(link.IsOpen());
  FeedAndSettle(pty, observer, MeterSentence("SPS1,1,1,0,1,1,0,0"));
  EXPECT_EQ(observer.readings.size(), 1u);
  link.Disconnect();
  EXPECT_FALSE(link.IsOpen());
  link.Connect();
  ASSERT_TRUE(link.IsOpen());
  FeedAndSettle(pty, observer, MeterSentence("SPS1,2,1,0,1,1,0,0"));
  EXPECT_EQ(observer.readings.size(), 2u);
  EXPECT_TRUE(bench_.errors.Rows().empty());
}

// The same scenarios with the settings and the error log in memory and in
// the log database on a real file.
INSTANTIATE_TEST_SUITE_P(Seams, AutoCommunicationTest,
                         ::testing::Values(test::SeamBackend::kInMemory,
                                           test::SeamBackend::kLogDatabase),
                         test::SeamBackendName);

}  // namespace
}  // namespace rvx
