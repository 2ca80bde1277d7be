#include "tests/dbengine/storage/crash/harness/CrashReplayer.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <vector>

namespace vez::test::crash {

namespace {

// Tracks the commit marks while the log is walked.
struct CommitProgress {
  std::int32_t done = 0;
  bool begun = false;

  void See(const FileOp& op) {
    if (op.kind == FileOp::Kind::kCommitBegin) begun = true;
    if (op.kind == FileOp::Kind::kCommitEnd) {
      done = op.mark;
      begun = false;
    }
  }
};

std::size_t ToSize(std::int64_t v) {
  return static_cast<std::size_t>(v);
}

// The 512-byte steps of a write of count bytes at which to tear it.
std::vector<std::int64_t> CutsOf(std::int64_t count, const ReplayOptions& options,
                                 std::mt19937& rng) {
  std::vector<std::int64_t> cuts;
  for (std::int64_t c = kSectorSize; c < count; c += kSectorSize)
    cuts.push_back(c);
  if (options.max_cuts_per_write > 0 &&
      cuts.size() > static_cast<std::size_t>(options.max_cuts_per_write)) {
    std::shuffle(cuts.begin(), cuts.end(), rng);
    cuts.resize(static_cast<std::size_t>(options.max_cuts_per_write));
    std::sort(cuts.begin(), cuts.end());
  }
  return cuts;
}

}  // namespace

std::string CrashPoint::Describe() const {
  std::ostringstream s;
  s << (model == Model::kKilled ? "killed" : "power cut") << " at op " << op_index;
  if (torn_bytes >= 0) s << " torn after " << torn_bytes << " bytes";
  if (model == Model::kPowerCut) s << " subset " << subset;
  s << ", commits done " << commits_done << (commit_begun ? " (next begun)" : "");
  return s.str();
}

void ApplyOp(FileImage& image, const FileOp& op, std::int64_t limit) {
  switch (op.kind) {
    case FileOp::Kind::kWrite: {
      const std::int64_t count =
          limit >= 0 ? std::min<std::int64_t>(limit, static_cast<std::int64_t>(op.data.size()))
                     : static_cast<std::int64_t>(op.data.size());
      image.exists = true;
      if (ToSize(op.offset + count) > image.bytes.size())
        image.bytes.resize(ToSize(op.offset + count), 0);
      if (count > 0) std::memcpy(image.bytes.data() + op.offset, op.data.data(), ToSize(count));
      break;
    }
    case FileOp::Kind::kTruncate:
      image.bytes.resize(ToSize(op.offset), 0);
      break;
    case FileOp::Kind::kCreate:
      image.exists = true;
      image.bytes.clear();
      break;
    case FileOp::Kind::kDelete:
      image.exists = false;
      image.bytes.clear();
      break;
    case FileOp::Kind::kReplace:
      image.exists = true;
      image.bytes = op.data;
      break;
    default:
      break;
  }
}

std::int64_t ReplayKilledProcess(const CrashLog& log, const ReplayOptions& options,
                                 const PairVisitor& visit) {
  std::mt19937 rng(options.seed);
  PairImage pair = log.initial;
  CommitProgress progress;
  std::int64_t pairs = 0;
  auto emit = [&](const PairImage& p, std::size_t index, std::int64_t torn) {
    CrashPoint point;
    point.model = CrashPoint::Model::kKilled;
    point.op_index = index;
    point.torn_bytes = torn;
    point.commits_done = progress.done;
    point.commit_begun = progress.begun;
    visit(p, point);
    ++pairs;
  };
  emit(pair, 0, -1);
  for (std::size_t i = 0; i < log.ops.size(); ++i) {
    const FileOp& op = log.ops[i];
    progress.See(op);
    if (op.IsMark() || op.kind == FileOp::Kind::kSync || op.kind == FileOp::Kind::kFolderSync)
      continue;
    FileImage& image = pair.files[static_cast<int>(op.file)];
    if (op.kind == FileOp::Kind::kWrite) {
      for (const std::int64_t cut :
           CutsOf(static_cast<std::int64_t>(op.data.size()), options, rng)) {
        const FileImage before = image;
        ApplyOp(image, op, cut);
        emit(pair, i, cut);
        image = before;
      }
    }
    ApplyOp(image, op);
    emit(pair, i + 1, -1);
  }
  return pairs;
}

std::int64_t ReplayPowerCut(const CrashLog& log, const ReplayOptions& options,
                            const PairVisitor& visit) {
  std::mt19937 rng(options.seed ^ 0x9E3779B9u);
  PairImage current = log.initial;
  PairImage durable = log.initial;
  std::set<std::int64_t> dirty[kTrackedFileCount];
  // A replace whose folder is not synced yet: the name may still hold this.
  std::optional<FileImage> replaced[kTrackedFileCount];
  CommitProgress progress;
  std::int64_t pairs = 0;

  auto cut_here = [&](std::size_t index) {
    for (std::int32_t s = 0; s < options.subsets_per_cut; ++s) {
      PairImage p;
      for (int f = 0; f < kTrackedFileCount; ++f) {
        const FileImage& now = current.files[f];
        const FileImage& synced = durable.files[f];
        FileImage& out = p.files[f];
        if (replaced[f] && (rng() & 1)) {
          out = *replaced[f];
          continue;
        }
        // Whether a created or deleted file's name survived is itself a toss.
        out.exists = now.exists ? (synced.exists || (rng() & 1)) : (synced.exists && (rng() & 1));
        if (!out.exists) continue;
        const std::size_t size = (rng() & 1) ? now.bytes.size() : synced.bytes.size();
        out.bytes = synced.bytes;
        out.bytes.resize(size, 0);
        for (const std::int64_t sector : dirty[f]) {
          if (rng() & 1) continue;
          const std::size_t from = ToSize(sector * kSectorSize);
          const std::size_t to = std::min({from + ToSize(kSectorSize), size, now.bytes.size()});
          if (from < to) std::memcpy(out.bytes.data() + from, now.bytes.data() + from, to - from);
        }
      }
      CrashPoint point;
      point.model = CrashPoint::Model::kPowerCut;
      point.op_index = index;
      point.subset = s;
      point.commits_done = progress.done;
      point.commit_begun = progress.begun;
      visit(p, point);
      ++pairs;
    }
  };

  for (std::size_t i = 0; i < log.ops.size(); ++i) {
    const FileOp& op = log.ops[i];
    progress.See(op);
    if (op.IsMark()) continue;
    const int f = static_cast<int>(op.file);
    if (op.kind == FileOp::Kind::kFolderSync) {
      cut_here(i);
      for (auto& r : replaced)
        r.reset();
      continue;
    }
    if (op.kind == FileOp::Kind::kReplace) {
      cut_here(i);
      // The new file's data was synced before the rename: either file is
      // whole under the name.
      if (!replaced[f]) replaced[f] = durable.files[f];
      ApplyOp(current.files[f], op);
      durable.files[f] = current.files[f];
      dirty[f].clear();
      continue;
    }
    if (op.kind == FileOp::Kind::kSync) {
      cut_here(i);
      durable.files[f] = current.files[f];
      dirty[f].clear();
      continue;
    }
    if (op.kind == FileOp::Kind::kWrite && !op.data.empty()) {
      const std::int64_t first = op.offset / kSectorSize;
      const std::int64_t last =
          (op.offset + static_cast<std::int64_t>(op.data.size()) - 1) / kSectorSize;
      for (std::int64_t s = first; s <= last; ++s)
        dirty[f].insert(s);
    }
    ApplyOp(current.files[f], op);
  }
  cut_here(log.ops.size());
  return pairs;
}

}  // namespace vez::test::crash
