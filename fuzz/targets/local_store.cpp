// A record of the mount's local store (what the partner wrote that the
// service has not taken yet): a damaged record is skipped, and a record that
// reads is written back and reads the same.

#include "fuzz/fuzz_target.h"
#include "fuzz/scratch_directory.h"
#include "platform/fileprovider/fuse/local_store.h"

using namespace ostrel::fileprovider;

FUZZ_TARGET(local_store) {
  const auto& directory = ostrel::fuzz::scratchWith("0123456789abcdef.json", input);
  LocalStore store(directory);
  const auto entries = store.all();
  FUZZ_CHECK(entries.size() <= 1);
  if (entries.empty()) return;
  const LocalStore::Entry first = *entries.front();
  store.save(first);
  LocalStore reread(directory);
  const auto again = reread.all();
  FUZZ_CHECK(again.size() == 1);
  const auto& second = *again.front();
  FUZZ_CHECK(second.token == first.token && second.kind == first.kind);
  FUZZ_CHECK(second.identifier == first.identifier && second.parent == first.parent);
  FUZZ_CHECK(second.name == first.name && second.directory == first.directory);
  FUZZ_CHECK(second.baseVersion == first.baseVersion);
  FUZZ_CHECK(second.state == first.state && second.order == first.order);
}
