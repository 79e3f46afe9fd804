// The provenance file beside each coefficient file: what made it (program, version, time),
// from what (the input files with their SHA-256), with which choices, and the SHA-256 of every
// file written beside it, so that a coefficient file sent on can be traced and checked.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "dose/tail_rows.h"
#include "input/data_sets.h"
#include "output/notes_file.h"

typedef struct evp_md_ctx_st EVP_MD_CTX;

namespace kestrane {

// The SHA-256 of a stream of bytes, by libcrypto, and how many bytes it took.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void update(std::string_view bytes);
  // The digest as 64 lower-case hexadecimal digits; ends the stream (later updates are refused).
  std::string hex();
  std::uint64_t bytes() const { return bytes_; }

 private:
  EVP_MD_CTX* context_;
  std::uint64_t bytes_ = 0;
  std::string digest_;  // once finished
};

// The SHA-256 of a stream worked out on a thread of its own, so that the one who reads the
// stream does not wait for it: update() queues the bytes and returns (waiting only while a few
// blocks are still to be hashed), copying them unless a holder keeps them readable until
// they are hashed; hex() waits for the rest. Where no thread can be started the
// bytes are hashed in update() itself.
class BackgroundSha256 {
 public:
  BackgroundSha256();
  ~BackgroundSha256();
  BackgroundSha256(const BackgroundSha256&) = delete;
  BackgroundSha256& operator=(const BackgroundSha256&) = delete;
  void update(std::string_view bytes);
  // The bytes kept readable by `holder` (no copy) when it is not null.
  void update(std::string_view bytes, std::shared_ptr<const void> holder);
  std::string hex();
  std::uint64_t bytes() const { return bytes_; }

 private:
  void run();
  void stop();
  Sha256 sha_;
  std::mutex mutex_;
  std::condition_variable changed_;
  struct Block {
    std::string copy;
    std::string_view held;
    std::shared_ptr<const void> holder;
  };
  std::deque<Block> queue_;         // blocks not yet hashed
  std::vector<std::string> spare_;  // hashed blocks, their room kept for the next
  bool ended_ = false;
  std::uint64_t bytes_ = 0;
  std::thread thread_;
};

// The SHA-256 of a whole file as 64 hexadecimal digits; empty when it cannot be read.
std::string file_sha256(const std::string& host_path);

// "OUTPUT\DC" + age in days + data-set letter + ".json", beside the coefficient file.
std::string provenance_file_name(std::int32_t age_days, DataSet data_set);

// A file listed in a provenance file.
struct ProvenanceEntry {
  std::string file;  // relative to the provenance file's folder, or to the working directory
  std::uint64_t bytes = 0;
  std::string sha256;  // empty when not known
};

// The weighting scheme of a run that gave doses.
struct ProvenanceScheme {
  std::string file;  // relative to the working directory, or as given
  std::string name;  // the scheme's own name
  std::string sha256;
};

// What one provenance file says.
struct Provenance {
  std::string version;
  std::string created;  // "2026-12-10T03:12:45Z"
  DataSet data_set = DataSet::inhalation;
  ProvenanceEntry input;
  bool input_hashed_in_run = true;  // false: an earlier run hashed the same unchanged file
  std::string title;                // the dose-rate file's title line; its units follow from it
  ProvenanceEntry times_file;
  std::vector<double> times;
  int age_group = 1;
  std::vector<std::string> regions;  // in column order
  TailModels tails;                  // the rate models before and after the table
  std::optional<ProvenanceScheme> scheme;  // none for a run without doses
  std::int64_t processed = 0;        // records in the coefficient file
  std::int64_t passed_over = 0;      // records of the dose-rate file the run did not process
  NoteCounts notes;
  std::vector<ProvenanceEntry> files;
};

// The current time as "YYYY-MM-DDTHH:MM:SSZ" (UTC).
std::string utc_now();

// The JSON document, indented, with a final LF: after the input file its "title" and the
// "units" the title names (rate_units; null for none). Bytes that are not UTF-8 in names and
// the title read from the input are replaced, so the document is always valid JSON.
std::string provenance_json(const Provenance& provenance);

}  // namespace kestrane
