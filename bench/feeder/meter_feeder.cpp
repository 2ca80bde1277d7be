// rvx_meter_feeder: a meter unit for benchmarks. Writes SPS1 sentences to a
// pty (the feed side of a socat pair) at a steady rate for a given time,
// every twentieth one damaged, then writes what it sent to a report file.
//
//   rvx_meter_feeder <feed> <sentences per s> <seconds> <seed> <report>
//
// Damage kinds, in turn: a wrong checksum (delivered, flagged), a sentence
// cut short (logged as unrecognised by the link's decoder), another id
// (logged as unrecognised by the link). The report holds one "name value"
// line per count: sent, good, wrong_checksum, cut_short, other_id.
//
// The pace comes from absolute deadlines on the monotonic clock, so a slow
// write does not slow the rate; a pty ignores the baud rate.
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Checksum(const std::string& body) {
  unsigned sum = 0;
  for (unsigned char c : body)
    sum += c;
  char digits[3];
  std::snprintf(digits, sizeof digits, "%02X", sum % 256);
  return digits;
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s <feed> <sentences per s> <seconds> <seed> <report>\n", argv[0]);
    return 2;
  }
  const char* feed = argv[1];
  const long rate = std::atol(argv[2]);
  const long seconds = std::atol(argv[3]);
  const unsigned seed = static_cast<unsigned>(std::atol(argv[4]));
  const char* report = argv[5];
  if (rate <= 0 || seconds <= 0) return 2;
  const int fd = open(feed, O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", feed, std::strerror(errno));
    return 1;
  }

  long sent = 0, good = 0, wrong_checksum = 0, cut_short = 0, other_id = 0;
  const long total = rate * seconds;
  const long period_ns = 1000000000L / rate;
  timespec next{};
  clock_gettime(CLOCK_MONOTONIC, &next);
  for (long i = 0; i < total; ++i) {
    const double phase = (i + seed) * 0.01;
    char fields[128];
    std::snprintf(fields, sizeof fields, "%ld,%.2f,0,%.2f,%.1f,0,0", i, 760 + 5 * std::sin(phase),
                  100 + 0.5 * std::sin(phase), 8000 + 50 * std::sin(phase));
    const std::string body = std::string("SPS1,") + fields;
    std::string sentence;
    if (i % 20 != 19) {
      sentence = "$" + body + "*" + Checksum(body) + "\r\n";
      ++good;
    } else {
      switch ((i / 20) % 3) {
        case 0:
          sentence = "$" + body + "*" + Checksum(body + "x") + "\r\n";
          ++wrong_checksum;
          break;
        case 1:
          sentence = "$" + body.substr(0, 12) + "\r\n";
          ++cut_short;
          break;
        default:
          sentence = "$SPX1," + std::string(fields) + "*00\r\n";
          ++other_id;
          break;
      }
    }
    if (!WriteAll(fd, sentence)) {
      std::fprintf(stderr, "cannot write to %s: %s\n", feed, std::strerror(errno));
      return 1;
    }
    ++sent;
    next.tv_nsec += period_ns;
    while (next.tv_nsec >= 1000000000L) {
      next.tv_nsec -= 1000000000L;
      ++next.tv_sec;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
    }
  }
  close(fd);

  FILE* out = std::fopen(report, "w");
  if (!out) return 1;
  std::fprintf(out, "sent %ld\ngood %ld\nwrong_checksum %ld\ncut_short %ld\nother_id %ld\n", sent,
               good, wrong_checksum, cut_short, other_id);
  return std::fclose(out) == 0 ? 0 : 1;
}
