// Vault file throughput: decoding, encoding and loading from disk a vault of secret records
// (a three-part path, labels, a sealed payload with three recipient slots, a key and a
// signature), up to a file near the 256 MiB limit.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "store/vault_file.h"

namespace {

using namespace ostrel;
using core::Bytes;

Bytes filled(std::size_t n, std::uint64_t seed) {
  Bytes b(n);
  std::uint64_t x = seed * 0x9e3779b97f4a7c15u + 1;
  for (auto& byte : b) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    byte = static_cast<std::uint8_t>(x);
  }
  return b;
}

store::VaultRecords make_vault(std::size_t n) {
  std::vector<core::VaultRecordV1> records;
  records.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    core::SealedPayloadV1 payload;
    payload.nonce = filled(12, i);
    payload.ciphertext = filled(600 + i % 128, i + 1);
    for (std::uint64_t k = 0; k < 3; ++k) {
      payload.recipient_slots.push_back(
          core::RecipientSlotV1{UserId(HashValue(filled(32, k))), filled(32, i * 3 + k), filled(48, i * 5 + k)});
    }
    core::SecretRecordV1 secret{
        SecretId(HashValue(filled(32, i + 7))),
        core::SecretSelectorV1{{"prod", "service-" + std::to_string(i % 97), "db-password-" + std::to_string(i)},
                               {{"env", "prod"}, {"team", "t" + std::to_string(i % 5)}}},
        std::move(payload), i + 1};
    records.emplace_back(core::EvolvingBody(core::RecordBodyV1(std::move(secret))), filled(32, i % 11),
                         filled(64, i + 3));
  }
  return store::VaultRecords(std::move(records));
}

// The file of `n` records; aborts the run if it cannot be encoded (above the file limit).
cord::Buffer vault_file(std::size_t n) {
  auto file = store::encode_vault_file(make_vault(n));
  if (!file) std::abort();
  return std::move(*file);
}

// Record counts of a small vault and of one just under the file limit.
constexpr std::int64_t kSmall = 1024;
constexpr std::int64_t kNearLimit = 200'000;

void BM_DecodeVaultFile(benchmark::State& state) {
  const cord::Buffer file = vault_file(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto records = store::decode_vault_file(file);
    if (!records) state.SkipWithError(records.error().message().c_str());
    benchmark::DoNotOptimize(records);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(file.size()) * state.iterations());
  state.counters["file_bytes"] = static_cast<double>(file.size());
}

void BM_EncodeVaultFile(benchmark::State& state) {
  // Decoded records carry their canonical bytes, as in every real write.
  const store::VaultRecords records =
      *store::decode_vault_file(vault_file(static_cast<std::size_t>(state.range(0))));
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto file = store::encode_vault_file(records);
    bytes = file->size();
    benchmark::DoNotOptimize(file->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(bytes) * state.iterations());
}

void BM_LoadVault(benchmark::State& state) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("ostrel-vault-bench-" + std::to_string(::getpid()));
  const auto paths = store::WorkspacePaths::for_vault_file(dir / "vault.cord");
  const cord::Buffer file = vault_file(static_cast<std::size_t>(state.range(0)));
  if (auto written = store::write_vault(paths, file); !written) {
    state.SkipWithError(written.error().message().c_str());
  }
  for (auto _ : state) {
    auto records = store::load_vault(paths);
    benchmark::DoNotOptimize(records);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(file.size()) * state.iterations());
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

BENCHMARK(BM_DecodeVaultFile)->Arg(kSmall)->Arg(kNearLimit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeVaultFile)->Arg(kSmall)->Arg(kNearLimit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadVault)->Arg(kNearLimit)->Unit(benchmark::kMillisecond);

}  // namespace
