// Encode and decode throughput of the canonical encoding on a record-like mix: identifiers,
// keys and signatures (byte strings), names (ASCII and non-ASCII texts), counters, nested sets
// and evolving bodies, held in one canonical set as a vault file holds its records.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "cord/cord.h"
#include "ids/identifiers.h"

namespace {

using namespace ostrel;
using namespace ostrel::cord;

struct Entry {
  std::string key;
  std::string value;
  static auto cord_fields(auto& s) { return std::tie(s.key, s.value); }
  friend bool operator==(const Entry&, const Entry&) = default;
};

struct Named8 {
  UserId user_id;
  std::string name;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) { return std::tie(s.user_id, s.name, s.counter); }
  friend bool operator==(const Named8&, const Named8&) = default;
};

struct Payload {
  SecretId secret_id;
  std::vector<std::string> path;
  Bytes nonce;
  Bytes ciphertext;
  Set<Entry> labels;
  std::uint64_t counter = 0;
  static auto cord_fields(auto& s) {
    return std::tie(s.secret_id, s.path, s.nonce, s.ciphertext, s.labels, s.counter);
  }
  friend bool operator==(const Payload&, const Payload&) = default;
};

using Body = std::variant<Named8, Payload>;

struct Record {
  Evolving<Body> body;
  Bytes signing_public_key;
  Bytes signature;
  static auto cord_fields(auto& s) { return std::tie(s.body, s.signing_public_key, s.signature); }
  friend bool operator==(const Record&, const Record&) = default;
};

HashValue hash_of(std::uint64_t i) {
  std::vector<std::uint8_t> b(32);
  for (int k = 0; k < 32; ++k) b[k] = static_cast<std::uint8_t>((i * 2654435761u) >> (k % 8) ^ k);
  return HashValue(std::move(b));
}

std::vector<Record> make_records(std::size_t n) {
  std::vector<Record> out;
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    Record r;
    if (i % 8 == 0) {
      r.body = Body(Named8{UserId(hash_of(i)), (i % 16 == 0 ? "Zo\xc3\xab " : "user-") + std::to_string(i), i});
    } else {
      Payload p;
      p.secret_id = SecretId(hash_of(i));
      p.path = {"prod", "service-" + std::to_string(i % 97), "db-password"};
      p.nonce = Bytes(12, static_cast<std::uint8_t>(i));
      p.ciphertext = Bytes(48 + i % 64, static_cast<std::uint8_t>(i * 7));
      p.labels = Set<Entry>(std::vector<Entry>{{"env", "prod"}, {"team", "t" + std::to_string(i % 5)}});
      p.counter = i;
      r.body = Body(std::move(p));
    }
    const HashValue key = hash_of(i + 1);
    r.signing_public_key.assign(key.bytes.begin(), key.bytes.end());
    r.signature = Bytes(64, static_cast<std::uint8_t>(i));
    r.signature[0] = static_cast<std::uint8_t>(i >> 8);
    r.signature[1] = static_cast<std::uint8_t>(i);
    out.push_back(std::move(r));
  }
  return out;
}

void BM_EncodeRecordSet(benchmark::State& state) {
  const Set<Record> set(make_records(static_cast<std::size_t>(state.range(0))));
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto out = to_vec_versioned(set);
    bytes = out->size();
    benchmark::DoNotOptimize(out->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
  state.counters["file_bytes"] = static_cast<double>(bytes);
}

struct Store {
  Set<Record> records;
  static auto cord_fields(auto& s) { return std::tie(s.records); }
};
using VersionedStore = std::variant<Store>;

void BM_DecodeRecordSet(benchmark::State& state) {
  const Set<Record> set(make_records(static_cast<std::size_t>(state.range(0))));
  const Buffer file = *to_vec_versioned(set);
  for (auto _ : state) {
    auto back = from_slice<VersionedStore>(file);
    if (!back) state.SkipWithError(back.error().message().c_str());
    benchmark::DoNotOptimize(back);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(file.size()) * state.iterations());
  state.counters["file_bytes"] = static_cast<double>(file.size());
}

// Long ASCII texts: the fast path that a large vault of names and paths mostly takes.
void BM_DecodeAsciiTexts(benchmark::State& state) {
  std::vector<std::string> texts;
  for (int i = 0; i < 4096; ++i) texts.push_back(std::string(200 + i % 100, static_cast<char>('a' + i % 26)));
  const Buffer bytes = *to_vec(texts);
  for (auto _ : state) {
    auto back = from_slice<std::vector<std::string>>(bytes);
    benchmark::DoNotOptimize(back);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes.size()) * state.iterations());
}

BENCHMARK(BM_EncodeRecordSet)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRecordSet)->Arg(1024)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAsciiTexts)->Unit(benchmark::kMicrosecond);

}  // namespace
