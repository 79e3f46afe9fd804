// The provenance files: SHA-256 by libcrypto and the JSON document by nlohmann-json.
#include "output/provenance.h"

#include <openssl/evp.h>

#include <array>
#include <cmath>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

#include "input/rate_units.h"
#include "platform/threads.h"

namespace kestrane {

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (context_ == nullptr || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(context_);
    throw std::runtime_error("SHA-256 is not available");
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::update(std::string_view bytes) {
  if (!digest_.empty()) throw std::logic_error("SHA-256 updated after its digest");
  EVP_DigestUpdate(context_, bytes.data(), bytes.size());
  bytes_ += bytes.size();
}

std::string Sha256::hex() {
  if (digest_.empty()) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int size = 0;
    EVP_DigestFinal_ex(context_, digest.data(), &size);
    static constexpr char kDigits[] = "0123456789abcdef";
    for (unsigned int i = 0; i < size; ++i) {
      digest_ += kDigits[digest[i] >> 4];
      digest_ += kDigits[digest[i] & 15];
    }
  }
  return digest_;
}

namespace {
constexpr std::size_t kBlocksInFlight = 4;
}  // namespace

BackgroundSha256::BackgroundSha256() {
  try {
    thread_ = start_quiet_thread([this] { run(); });  // it never takes a quit signal
  } catch (const std::system_error&) {
    // No thread: update() hashes the bytes itself.
  }
}

BackgroundSha256::~BackgroundSha256() { stop(); }

void BackgroundSha256::stop() {
  {
    const std::lock_guard lock(mutex_);
    ended_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void BackgroundSha256::update(std::string_view bytes) { update(bytes, nullptr); }

void BackgroundSha256::update(std::string_view bytes, std::shared_ptr<const void> holder) {
  bytes_ += bytes.size();
  if (!thread_.joinable()) {
    sha_.update(bytes);
    return;
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.size() < kBlocksInFlight; });
  Block block;
  if (holder) {
    block.held = bytes;
    block.holder = std::move(holder);
  } else {
    if (!spare_.empty()) {
      block.copy = std::move(spare_.back());
      spare_.pop_back();
    }
    block.copy.assign(bytes);
  }
  queue_.push_back(std::move(block));
  lock.unlock();
  changed_.notify_all();
}

void BackgroundSha256::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || ended_; });
    if (queue_.empty()) return;
    Block block = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    sha_.update(block.holder ? block.held : std::string_view(block.copy));
    block.holder.reset();
    lock.lock();
    if (!block.copy.empty()) spare_.push_back(std::move(block.copy));
    changed_.notify_all();
  }
}

std::string BackgroundSha256::hex() {
  stop();
  return sha_.hex();
}

std::string file_sha256(const std::string& host_path) {
  std::ifstream in(host_path, std::ios::binary);
  if (!in) return {};
  Sha256 sha;
  std::string block(std::size_t{1} << 16, '\0');
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    sha.update(std::string_view(block.data(), static_cast<std::size_t>(in.gcount())));
  }
  return in.eof() ? sha.hex() : std::string();
}

std::string provenance_file_name(std::int32_t age_days, DataSet data_set) {
  return "OUTPUT\\DC" + std::to_string(age_days) + data_set_letter(data_set) + ".json";
}

std::string utc_now() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

namespace {

using nlohmann::ordered_json;

// A whole number of days as an integer (365, not 365.0), any other as a double.
ordered_json day_number(double days) {
  if (std::trunc(days) == days && std::abs(days) < 9e15) {
    return static_cast<std::int64_t>(days);
  }
  return days;
}

ordered_json entry(const ProvenanceEntry& file, bool with_bytes) {
  ordered_json json;
  json["file"] = file.file;
  if (with_bytes) json["bytes"] = file.bytes;
  json["sha256"] = file.sha256.empty() ? ordered_json() : ordered_json(file.sha256);
  return json;
}

// The units of the rates, the coefficients and the doses; null for what the title leaves open.
ordered_json units_json(const std::optional<RateUnits>& units) {
  if (!units) return nullptr;
  ordered_json json;
  json["rate"] = units->rate;
  json["coefficient"] = units->coefficient;
  json["dose"] = units->dose.empty() ? ordered_json() : ordered_json(units->dose);
  return json;
}

}  // namespace

std::string provenance_json(const Provenance& p) {
  ordered_json json;
  json["program"] = "kestrane";
  json["version"] = p.version;
  json["created"] = p.created;
  json["data_set"] = p.data_set == DataSet::inhalation ? "inhalation" : "ingestion";
  json["input"] = entry(p.input, true);
  json["input"]["hashed_in_this_run"] = p.input_hashed_in_run;
  json["title"] = p.title;
  json["units"] = units_json(rate_units(p.title));
  json["times_file"] = entry(p.times_file, false);
  ordered_json times = ordered_json::array();
  for (const double t : p.times) times.push_back(day_number(t));
  json["integration_times_d"] = times;
  const AgeGroup& group = kAgeGroups.at(static_cast<std::size_t>(p.age_group - 1));
  std::string name(group.label);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  json["age_group"] = {{"number", p.age_group}, {"name", name}, {"days", group.days}};
  json["regions"] = p.regions;
  json["tails"] = {{"before", std::string(model_name(p.tails.before))},
                   {"after", std::string(model_name(p.tails.after))}};
  if (p.scheme) {
    json["scheme"] = {
        {"file", p.scheme->file},
        {"name", p.scheme->name},
        {"sha256", p.scheme->sha256.empty() ? ordered_json() : ordered_json(p.scheme->sha256)}};
  }
  json["records"] = {{"processed", p.processed}, {"passed_over", p.passed_over}};
  json["notes"] = {
      {"negative", p.notes.negative}, {"extended", p.notes.extended}, {"records", p.notes.records}};
  ordered_json files = ordered_json::array();
  for (const ProvenanceEntry& file : p.files) files.push_back(entry(file, true));
  json["files"] = files;
  return json.dump(2, ' ', false, ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace kestrane
