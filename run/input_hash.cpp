// The dose-rate file's hash for the provenance files, taken from the cache or worked out as the
// file is read, and remembered when the file read is still the one its path names.
#include "run/input_hash.h"

#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "output/hash_cache.h"

namespace kestrane {

void hash_input_as_read(RunSource& source, LineReader& reader) {
  source.input_stamp = file_stamp_of(reader.descriptor());
  if (const auto cache = InputHashCache::of_user(); cache && source.input_stamp) {
    source.remembered_sha256 = cache->find(*source.input_stamp);
  }
  if (source.remembered_sha256.empty()) {
    source.input_sha256 = std::make_shared<BackgroundSha256>();
    reader.observe_held_bytes(
        [sha = source.input_sha256](std::string_view bytes, std::shared_ptr<const void> held) {
          sha->update(bytes, std::move(held));
        });
  }
}

void describe_input(const RunSource& source, ProvenanceEntry& input, bool& hashed_in_run) {
  const std::optional<FileStamp> now = file_stamp(source.input_path);
  const bool unchanged = now && source.input_stamp && *now == *source.input_stamp;
  hashed_in_run = source.input_sha256 != nullptr;
  if (source.input_sha256) {
    input.bytes = source.input_sha256->bytes();
    input.sha256 = source.input_sha256->hex();
    const auto cache = InputHashCache::of_user();
    if (unchanged && cache && input.bytes == now->size) {
      cache->remember(*now, input.sha256, source.read_from_ns);
    }
  } else if (unchanged) {
    input.bytes = now->size;
    input.sha256 = source.remembered_sha256;
  } else if (now) {
    input.bytes = now->size;
  }
}

}  // namespace kestrane
