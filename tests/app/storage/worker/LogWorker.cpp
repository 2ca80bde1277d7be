// The log worker: a second program on the log database, for tests of what
// two processes see of one log file. One command per line on standard
// input, one answer line on standard output ("ok [value]" or "err text").
// RVX_DOCUMENTS names the documents folder, as for the program.
//
// Commands:
//   open                 opens the log (TDM_System on "RVX_Log.vez")
//   measure RUN SHAFT    stores a measurement; answers its ID
//   count M              samples of measurement M read back (power values)
//   append M N FILE [P]  answers ok, then appends N readings of M (power i,
//                        torque 2i, speed i/10, one per 0.1 s); whenever a
//                        group of them has been committed, FILE holds the
//                        number committed so far; P: milliseconds to wait
//                        after each reading (default 0)
//   errors               rows in the error log
//   exit
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "app/storage/DMSystem.h"
#include "dbengine/api/VEZTable.h"

namespace {

class SilentBox : public rvx::MessageBox {
 public:
  void ShowError(const std::string&) override {}
  bool Confirm(const std::string&) override { return false; }
};

void Answer(const std::string& line) {
  std::cout << line << "\n" << std::flush;
}

}  // namespace

int main() {
  SilentBox box;
  std::unique_ptr<rvx::TDM_System> log;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    try {
      if (cmd == "exit") {
        Answer("ok");
        break;
      } else if (cmd == "open") {
        log = std::make_unique<rvx::TDM_System>("RVX_Log.vez", box);
        Answer("ok");
      } else if (cmd == "measure") {
        int run = 0, shaft = 0;
        in >> run >> shaft;
        rvx::TMeassurement m(run, shaft);
        log->AddMeassurement(m);
        Answer("ok " + std::to_string(m.ID));
      } else if (cmd == "count") {
        int id = 0;
        in >> id;
        rvx::TRun run;
        auto set = log->GetDataSet(run, rvx::TMeassurement(0, 0, id), 0, {}, 5, 5);
        Answer("ok " + std::to_string(set->PowerData().Values().Count()));
      } else if (cmd == "append") {
        int id = 0, n = 0;
        std::string file;
        int pause = 0;
        in >> id >> n >> file >> pause;
        const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) throw std::runtime_error("cannot open " + file);
        Answer("ok");
        const rvx::TMeassurement m(0, 0, id);
        for (int i = 0; i < n; ++i) {
          const double t = 42700.5 + i / 864000.0;
          const rvx::TDataValue p(t, i, false), q(t, 2.0 * i, false), s(t, i / 10.0, false);
          log->AddDataToDb(m, &p, &q, &s);
          if (pause > 0) usleep(static_cast<useconds_t>(pause) * 1000);
          if (log->HasPendingData()) continue;
          const std::string count = std::to_string(i + 1) + "\n";
          if (pwrite(fd, count.data(), count.size(), 0) < 0) return 3;
        }
        close(fd);
      } else if (cmd == "errors") {
        vez::TVEZTable& t = log->getErrorLogDataSource();
        t.SetFiltered(false);
        Answer("ok " + std::to_string(t.RecordCount()));
      } else {
        Answer("err unknown command " + cmd);
      }
    } catch (const std::exception& e) {
      Answer(std::string("err ") + e.what());
    }
  }
  return 0;
}
