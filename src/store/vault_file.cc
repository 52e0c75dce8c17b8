#include "store/vault_file.h"

#include <algorithm>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "cord/codec.h"
#include "cord/deserializer.h"
#include "errors/shared_texts.h"
#include "errors/try.h"
#include "store/verified_file.h"

namespace ostrel::store {
namespace {

// A read of the vault that finds no file is VaultMissing, one of a file too large VaultInvalid
// (with the reader's size message), anything else Io.
StoreError vault_read_failed(const std::filesystem::path& path, IoError error) {
  if (error.kind() == IoError::NotFound) return StoreError::vault_missing(path);
  if (error.kind() == IoError::InvalidData) {
    return StoreError::vault_invalid(path, CoreError::validation(error.message()));
  }
  return StoreError::io(path, std::move(error));
}

StoreError vault_refused(const std::filesystem::path& path, std::string message) {
  return StoreError::vault_invalid(path, CoreError::validation(std::move(message)));
}

constexpr FileFormat kVaultFile{.magic = {"ostrel-vault\0", 13}, .magic_name = "vault", .subject = "vault",
                                .max_bytes = kMaxVaultFileBytes, .access = FileAccess::KeepTarget,
                                .read_failed = vault_read_failed, .invalid = vault_refused};

// Decoded where the records need only be checked, not kept: each one is read in full and
// dropped, so the set holds nothing but its count.
struct DroppedRecord {};

// Decoded onto records already held: each one read is handed to the adoption under way on this
// thread, which moves the held record of the same encoding onto it (VaultRecordV1::relocate).
struct AdoptedRecord {};

struct Adoption {
  std::vector<core::VaultRecordV1>& held;
  std::size_t next = 0;
  bool take(core::VaultRecordV1 read) {
    return next < held.size() && core::VaultRecordV1::relocate(held[next++], std::move(read));
  }
};
thread_local Adoption* adoption_under_way = nullptr;

}  // namespace
}  // namespace ostrel::store

namespace ostrel::cord {

template <>
struct Codec<store::AdoptedRecord> {
  static Status decode(Deserializer& d, store::AdoptedRecord&, WidthHint hint) {
    core::VaultRecordV1 record;
    OSTREL_TRY(cord::decode(d, record, hint));
    if (!store::adoption_under_way->take(std::move(record))) {
      return std::unexpected(Error::validation("the file's records are not the records held"));
    }
    return {};
  }
};

template <>
struct Codec<store::DroppedRecord> {
  static Status decode(Deserializer& d, store::DroppedRecord&, WidthHint hint) {
    core::VaultRecordV1 record;
    return cord::decode(d, record, hint);
  }
};

}  // namespace ostrel::cord

namespace ostrel::store {
namespace {

static_assert(std::is_same_v<core::VaultStore, std::variant<VaultRecords>>,
              "the vault file holds exactly the vault store");

CoreError too_large(std::uint64_t len) {
  return CoreError::validation(errors::size_above_maximum("vault", len, kMaxVaultFileBytes));
}

CoreError too_many_records(std::uint64_t count) {
  return CoreError::validation(errors::count_above_maximum("vault", count, "records", kMaxVaultRecords));
}

// The store as the set of `Record`: magic, file size, the store itself (all of it), then the
// record count.
template <class Record>
CoreResult<cord::Set<Record>> decode_as(std::span<const std::uint8_t> bytes,
                                        std::shared_ptr<const void> owner = nullptr) {
  if (!has_magic(kVaultFile, bytes)) {
    return std::unexpected(CoreError::validation(missing_magic_message(kVaultFile)));
  }
  if (bytes.size() > kMaxVaultFileBytes) return std::unexpected(too_large(bytes.size()));
  OSTREL_TRY_ASSIGN(auto store, cord::from_slice<std::variant<cord::Set<Record>>>(
                                    bytes.subspan(kVaultFile.magic.size()), std::move(owner)));
  cord::Set<Record>& records = std::get<0>(store);
  if (records.size() > kMaxVaultRecords) return std::unexpected(too_many_records(records.size()));
  return std::move(records);
}

// Whether the store's header (variant V1, then the count) announces more records than allowed.
bool declares_too_many(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kVaultFile.magic.size()) return false;
  cord::Deserializer header(bytes.subspan(kVaultFile.magic.size()));
  auto variant = header.read_u32_field();
  auto count = header.read_u32_field();
  return variant && *variant == 0 && count && *count > kMaxVaultRecords;
}

}  // namespace

StoreError vault_invalid(const WorkspacePaths& paths, CoreError error) {
  return StoreError::vault_invalid(paths.vault_file, std::move(error));
}

StoreResult<std::vector<std::uint8_t>> read_vault_bytes(const WorkspacePaths& paths) {
  return read_stored_file(paths.vault_file, kVaultFile);
}

StoreResult<FileLocation> locate_vault(const WorkspacePaths& paths) {
  auto at = FileLocation::resolve(paths.vault_file);
  if (!at) return std::unexpected(vault_read_failed(paths.vault_file, std::move(at).error()));
  return std::move(*at);
}

StoreResult<FileContents> read_vault_bytes(const FileLocation& at) { return read_stored_file(at, kVaultFile); }

CoreResult<VaultRecords> decode_vault_file(std::span<const std::uint8_t> bytes) {
  // Such a file fails at its first malformed record or else at the count. Telling which needs no
  // record kept, so a forged count of many tiny records costs no memory for them. Decoding it
  // cannot succeed: a set that decodes holds the count it announced.
  if (declares_too_many(bytes)) return std::unexpected(decode_as<DroppedRecord>(bytes).error());
  return decode_as<core::VaultRecordV1>(bytes);
}

CoreResult<VaultRecords> decode_vault_file(std::shared_ptr<const std::vector<std::uint8_t>> file) {
  const std::span<const std::uint8_t> bytes(*file);
  return decode_vault_file(bytes, std::move(file));
}

CoreResult<VaultRecords> decode_vault_file(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner) {
  if (declares_too_many(bytes)) return std::unexpected(decode_as<DroppedRecord>(bytes).error());
  return decode_as<core::VaultRecordV1>(bytes, std::move(owner));
}

std::size_t move_last_into_file_order(VaultRecords& records) {
  std::vector<core::VaultRecordV1>& items = records.items();
  const auto last = items.end() - 1;
  const auto at = std::lower_bound(items.begin(), last, *last,
                                   [](const core::VaultRecordV1& a, const core::VaultRecordV1& b) {
                                     return cord::bytes_less(a.encoding(), b.encoding());
                                   });
  const auto position = static_cast<std::size_t>(at - items.begin());
  if (at != last && std::ranges::equal(at->encoding(), last->encoding())) {
    items.pop_back();
  } else {
    std::rotate(at, last, items.end());
  }
  return position;
}

CoreResult<void> adopt_vault_file(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> owner,
                                  VaultRecords& records) {
  if (declares_too_many(bytes)) return std::unexpected(decode_as<DroppedRecord>(bytes).error());
  std::vector<core::VaultRecordV1>& held = records.items();
  Adoption adoption{held};
  adoption_under_way = &adoption;
  auto decoded = decode_as<AdoptedRecord>(bytes, std::move(owner));
  adoption_under_way = nullptr;
  OSTREL_TRY(decoded);
  if (adoption.next != held.size()) {
    return std::unexpected(CoreError::validation("the file's records are not the records held"));
  }
  return {};
}

CoreResult<cord::Buffer> encode_vault_file(const VaultRecords& records) {
  if (records.size() > kMaxVaultRecords) return std::unexpected(too_many_records(records.size()));
  std::size_t encoded = 0;
  for (const core::VaultRecordV1& r : records) encoded += r.encoding().size();
  cord::Buffer out = start_file(kVaultFile, 8 + encoded);
  cord::Serializer s(out);
  s.write_u32(0);  // the store's variant V1
  OSTREL_TRY(cord::encode(s, records));
  if (out.size() > kMaxVaultFileBytes) return std::unexpected(too_large(out.size()));
  return out;
}

StoreResult<VaultRecords> load_vault(const WorkspacePaths& paths) {
  OSTREL_TRY_ASSIGN(auto bytes, read_vault_bytes(paths));
  auto records = decode_vault_file(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)));
  if (!records) return std::unexpected(vault_invalid(paths, std::move(records).error()));
  return std::move(*records);
}

namespace {

// Only proves that the file decodes; the records are not needed.
StoreResult<void> check_decodes(const WorkspacePaths& paths, std::span<const std::uint8_t> written) {
  if (auto checked = decode_as<DroppedRecord>(written); !checked) {
    return std::unexpected(vault_invalid(paths, std::move(checked).error()));
  }
  return {};
}

}  // namespace

StoreResult<WriteOutcome> write_vault(const WorkspacePaths& paths, const FileLocation& at,
                                      std::span<const std::uint8_t> bytes, ReplaceOnly only) {
  return write_verified(
      at, bytes, kVaultFile, only, []() -> StoreResult<void> { return {}; },
      [&](std::span<const std::uint8_t> written) { return check_decodes(paths, written); });
}

StoreResult<WriteOutcome> write_decoded_vault(const FileLocation& at, std::span<const std::uint8_t> bytes,
                                              ReplaceOnly only) {
  const std::span<const std::uint8_t> whole[] = {bytes};
  return write_checked(at, Pieces(whole), kVaultFile, only);
}

StoreResult<void> write_vault(const WorkspacePaths& paths, std::span<const std::uint8_t> bytes) {
  return write_verified(
      paths.vault_file, bytes, kVaultFile, [&] { return create_dir_all(paths.vault_dir, FileAccess::Workspace); },
      [&](std::span<const std::uint8_t> written) { return check_decodes(paths, written); });
}

}  // namespace ostrel::store
