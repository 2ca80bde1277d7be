// Database files the disk benchmarks make in $TMPDIR (default /tmp), named
// after the benchmark and the process so that runs side by side never meet.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vez::bench {

inline std::string BenchFilePath(const std::string& bench, const std::string& name) {
  const char* tmp = std::getenv("TMPDIR");
  return std::string(tmp && *tmp ? tmp : "/tmp") + "/" + bench + "." +
         (name.empty() ? std::string() : name + ".") + std::to_string(getpid()) + ".vez";
}

}  // namespace vez::bench
