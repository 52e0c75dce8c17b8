#include "store/transaction_file.h"

#include <array>
#include <utility>

#include "crypto/domain_hash.h"
#include "errors/shared_texts.h"
#include "errors/try.h"
#include "platform/file.h"
#include "store/io.h"
#include "store/verified_file.h"

namespace ostrel::store {
namespace {

constexpr std::string_view kDigestPurpose = "ostrel.transaction-file.v1";
// The path encoding errors name: the file's bare name, since the journal is not yet anywhere.
constexpr std::string_view kEncodingPath = "transaction.cord";

StoreError transaction_refused(const std::filesystem::path& path, std::string reason) {
  return StoreError::transaction_invalid(path, std::move(reason));
}

constexpr FileFormat kTransactionFile{.magic = {"ostrel-transaction\0", 19}, .magic_name = "transaction",
                                      .subject = "transaction", .max_bytes = kMaxTransactionFileBytes,
                                      .access = FileAccess::Private, .read_failed = io_read_failed,
                                      .invalid = transaction_refused, .uncached_once_checked = true};

bool digest_of_wrong_length(const FilePreconditionV1& precondition) {
  const auto* digest = std::get_if<FilePreconditionV1::Digest>(&precondition.variant());
  return digest != nullptr && digest->digest.bytes.size() != 32;
}

}  // namespace

HashValue transaction_file_digest(std::span<const std::uint8_t> file) {
  return crypto::domain_hash(kDigestPurpose, file);
}

StoreResult<NativePathV1> NativePathV1::from_path(const std::filesystem::path& path) {
  auto real = platform::real_path(path);
  if (!real) return std::unexpected(StoreError::io(path, IoError::from_os(real.error().code)));
  const std::string& native = real->native();
  return NativePathV1(Unix{cord::Bytes(native.begin(), native.end())});
}

std::optional<std::filesystem::path> NativePathV1::to_path() const {
  const auto* unix_path = std::get_if<Unix>(&variant());
  if (unix_path == nullptr) return std::nullopt;
  return std::filesystem::path(std::string(unix_path->bytes.begin(), unix_path->bytes.end()));
}

StoreResult<void> TransactionV1::validate(const std::filesystem::path& path) const {
  auto invalid = [&path](std::string_view reason) {
    return std::unexpected(StoreError::transaction_invalid(path, std::string(reason)));
  };
  if (id.size() != kTransactionIdBytes) return invalid("transaction ID must be exactly 32 bytes");
  if (operation_label.empty() || operation_label.size() > kMaxOperationLabelBytes) {
    return invalid("transaction operation label is empty or too long");
  }
  if (digest_of_wrong_length(vault_before) || digest_of_wrong_length(ratchet_before)) {
    return invalid("transaction file hash must be 32 bytes");
  }
  if (next_vault_bytes.size() > kMaxAfterImageBytes) return invalid("transaction vault after-image is too large");
  if (next_ratchet_bytes.size() > kMaxAfterImageBytes) return invalid("transaction ratchet after-image is too large");
  if (const auto* windows = std::get_if<NativePathV1::WindowsUtf16Le>(&vault_path.variant());
      windows != nullptr && windows->bytes.size() % 2 != 0) {
    return invalid("transaction Windows path has odd byte length");
  }
  return {};
}

StoreResult<bool> TransactionV1::is_for_vault(const std::filesystem::path& vault_file) const {
  OSTREL_TRY_ASSIGN(const NativePathV1 stored, NativePathV1::from_path(vault_file));
  return stored == vault_path;
}

StoreResult<cord::Buffer> encode_transaction_file(const TransactionV1& transaction) {
  OSTREL_TRY(transaction.validate(kEncodingPath));
  cord::Buffer out =
      start_file(kTransactionFile, 256 + transaction.next_vault_bytes.size() + transaction.next_ratchet_bytes.size());
  cord::Serializer s(out);
  s.write_u32(0);  // the store's variant V1
  if (auto r = cord::encode(s, transaction); !r) return std::unexpected(StoreError::from_cord(std::move(r).error()));
  OSTREL_TRY(check_size(kEncodingPath, out.size(), kTransactionFile));
  return out;
}

StoreResult<TransactionV1> decode_transaction_file(const std::filesystem::path& path,
                                                   std::span<const std::uint8_t> bytes) {
  OSTREL_TRY(check_size(path, bytes.size(), kTransactionFile));
  if (!has_magic(kTransactionFile, bytes)) {
    return std::unexpected(StoreError::transaction_invalid(path, "missing ostrel transaction magic"));
  }
  // An after-image may be as large as a vault file; the journal is local and never read from a
  // peer, so its lengths are bounded by its own size limit.
  auto store = cord::from_slice<TransactionStore>(bytes.subspan(kTransactionFile.magic.size()), nullptr,
                                                  kMaxTransactionFileBytes);
  if (!store) {
    return std::unexpected(
        StoreError::transaction_invalid(path, "transaction Cord payload is invalid: " + store.error().message()));
  }
  TransactionV1 transaction = std::get<0>(std::move(*store));
  OSTREL_TRY(transaction.validate(path));
  return transaction;
}

StoreResult<std::optional<TransactionV1>> load_transaction(const WorkspacePaths& paths, const HashValue& root) {
  const std::filesystem::path path = paths.transaction_path(root.bytes);
  OSTREL_TRY_ASSIGN(const auto bytes, read_optional_file(path, kTransactionFile.max_bytes));
  if (!bytes) return std::nullopt;
  OSTREL_TRY_ASSIGN(TransactionV1 transaction, decode_transaction_file(path, *bytes));
  if (transaction.trusted_root != root) {
    return std::unexpected(
        StoreError::transaction_invalid(path, "transaction trusted root does not match its state directory"));
  }
  return transaction;
}

StoreResult<void> write_transaction(const WorkspacePaths& paths, const TransactionV1& transaction) {
  const std::filesystem::path path = paths.transaction_path(transaction.trusted_root.bytes);
  OSTREL_TRY_ASSIGN(const cord::Buffer bytes, encode_transaction_file(transaction));
  return write_verified(
      path, bytes, kTransactionFile, [&] { return prepare_state_dir(paths); },
      [&](std::span<const std::uint8_t> written) -> StoreResult<void> {
        OSTREL_TRY_ASSIGN(const TransactionV1 read, decode_transaction_file(path, written));
        if (!(read == transaction)) {
          return std::unexpected(
              StoreError::transaction_invalid(path, "transaction value differed immediately after atomic write"));
        }
        return {};
      });
}

namespace {

void put_be32(std::array<std::uint8_t, 4>& out, std::size_t n) {
  for (int i = 0; i < 4; ++i) out[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n >> (24 - 8 * i));
}

}  // namespace

StoreResult<void> write_transaction(const WorkspacePaths& paths, const TransactionV1& head,
                                    std::span<const std::uint8_t> next_vault,
                                    std::span<const std::uint8_t> next_ratchet) {
  const std::filesystem::path path = paths.transaction_path(head.trusted_root.bytes);
  auto invalid = [](std::string_view reason) {
    return std::unexpected(StoreError::transaction_invalid(kEncodingPath, std::string(reason)));
  };
  if (next_vault.size() > kMaxAfterImageBytes) return invalid("transaction vault after-image is too large");
  if (next_ratchet.size() > kMaxAfterImageBytes) return invalid("transaction ratchet after-image is too large");
  // The file is the head's encoding with each empty after-image (a 4-byte length of 0) standing
  // for its length and bytes: the head's bytes up to the vault's length, the vault, the
  // ratchet's length, the ratchet.
  OSTREL_TRY_ASSIGN(const cord::Buffer encoded, encode_transaction_file(head));
  constexpr std::size_t kLength = 4;
  const std::span<const std::uint8_t> fields(encoded.data(), encoded.size() - 2 * kLength);
  std::array<std::uint8_t, kLength> vault_length{};
  std::array<std::uint8_t, kLength> ratchet_length{};
  put_be32(vault_length, next_vault.size());
  put_be32(ratchet_length, next_ratchet.size());
  const std::span<const std::uint8_t> pieces[] = {fields, vault_length, next_vault, ratchet_length, next_ratchet};
  OSTREL_TRY(check_size(kEncodingPath, encoded.size() + next_vault.size() + next_ratchet.size(), kTransactionFile));

  OSTREL_TRY(prepare_state_dir(paths));
  OSTREL_TRY_ASSIGN(const FileLocation at, locate_for_write(path, kTransactionFile.access));
  OSTREL_TRY_ASSIGN(const WriteOutcome outcome, write_checked(at, Pieces(pieces), kTransactionFile, ReplaceOnly::anything()));
  (void)outcome;  // anything may be replaced
  // The bytes read back are the pieces; those that carry the head's fields decode to them again.
  OSTREL_TRY_ASSIGN(const TransactionV1 read, decode_transaction_file(path, encoded));
  if (!(read == head)) {
    return std::unexpected(StoreError::transaction_invalid(path, "transaction value differed immediately after atomic write"));
  }
  return {};
}

}  // namespace ostrel::store
