// How hard a disk database works to keep a commit across a crash. Held in
// memory only: the ordinal is never stored.
#pragma once

namespace vez {

enum class TVEZDurability {
  // Rollback journal, synced before the database file is touched, and the file
  // synced at the end: a commit survives a power cut. The default for disk
  // databases.
  Full,
  // Rollback journal without syncs: a commit survives a killed process.
  Normal,
  // No journal and no sync: the bare header protocol (bulk loads, tests). A
  // torn commit leaves WriteChangesState 1 and the file needs repair.
  Off,
};

}  // namespace vez
