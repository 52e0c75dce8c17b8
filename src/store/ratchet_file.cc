#include "store/ratchet_file.h"

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "cord/codec.h"
#include "cord/set.h"
#include "errors/shared_texts.h"
#include "errors/try.h"
#include "store/io.h"
#include "store/verified_file.h"

namespace ostrel::store {
namespace {

constexpr FileFormat kRatchetFile{.magic = {"ostrel-ratchet\0", 15}, .magic_name = "state", .subject = "ratchet",
                                  .max_bytes = kMaxRatchetFileBytes, .access = FileAccess::Private,
                                  .read_failed = io_read_failed, .invalid = io_refused};

// Read where a file is only checked: each entry is decoded and dropped, and the trusted roots met
// are counted by the check under way on this thread.
struct CheckedEntry {};
struct RootsMet {
  std::size_t count = 0;
  HashValue root;
};
thread_local RootsMet* roots_met = nullptr;

// Read where a file's state is wanted: each entry is decoded, handed to the state being loaded on
// this thread and dropped, so the file's entries are never all held at once.
struct LoadedEntry {};
thread_local validate::RatchetStateLoader* state_loading = nullptr;

// Decodes one entry whose texts and byte strings view the file's bytes instead of copying them:
// the entry is dropped before the bytes are, and whatever is kept of it (the state's keys, bindings
// and raw entries) is a copy, which owns its bytes.
cord::Status decode_viewing(cord::Deserializer& d, core::RatchetElement& entry, cord::WidthHint hint) {
  const bool may_view = d.may_view();
  d.set_may_view(true);
  cord::Status st = cord::decode(d, entry, hint);
  d.set_may_view(may_view);
  return st;
}

static_assert(std::is_same_v<core::RatchetStore, std::variant<cord::Set<core::RatchetElement>>>,
              "the ratchet file holds exactly the ratchet store");

// The state, and the root it names checked against the one asked for.
StoreResult<validate::RatchetState> parse_for_root(const std::filesystem::path& path, const HashValue& root,
                                                   std::span<const std::uint8_t> bytes,
                                                   std::span<const core::VaultRecordV1> records = {}) {
  OSTREL_TRY_ASSIGN(validate::RatchetState state, parse_ratchet_file(path, bytes, records));
  if (state.trusted_root != root) return std::unexpected(StoreError::trust_root_mismatch(state.trusted_root, root));
  return state;
}

}  // namespace
}  // namespace ostrel::store

namespace ostrel::cord {

template <>
struct Codec<store::CheckedEntry> {
  static Status decode(Deserializer& d, store::CheckedEntry&, WidthHint hint) {
    core::RatchetElement entry;
    OSTREL_TRY(store::decode_viewing(d, entry, hint));
    if (const core::RatchetRecordV1* record = entry.known()) {
      if (const auto* t = std::get_if<core::TrustedRootRatchetRecordV1>(&record->variant())) {
        if (store::roots_met->count++ == 0) store::roots_met->root = t->root;
      }
    }
    return {};
  }
};

template <>
struct Codec<store::LoadedEntry> {
  static Status decode(Deserializer& d, store::LoadedEntry&, WidthHint hint) {
    core::RatchetElement entry;
    OSTREL_TRY(store::decode_viewing(d, entry, hint));
    store::state_loading->add(entry);
    return {};
  }
};

}  // namespace ostrel::cord

namespace ostrel::store {

StoreResult<validate::RatchetState> parse_ratchet_file(const std::filesystem::path& path,
                                                       std::span<const std::uint8_t> bytes,
                                                       std::span<const core::VaultRecordV1> records) {
  auto invalid = [&path](cord::Error error) {
    return std::unexpected(StoreError::ratchet_invalid(path, std::move(error)));
  };
  if (!has_magic(kRatchetFile, bytes)) return invalid(cord::Error::validation(missing_magic_message(kRatchetFile)));
  // The same reading as a RatchetStore's, each entry applied as it is met.
  validate::RatchetStateLoader loader(records);
  state_loading = &loader;
  auto entries = cord::from_slice<std::variant<cord::Set<LoadedEntry>>>(bytes.subspan(kRatchetFile.magic.size()));
  state_loading = nullptr;
  if (!entries) return invalid(std::move(entries).error());
  auto state = std::move(loader).finish();
  if (!state) return invalid(std::move(state).error());
  return std::move(*state);
}

StoreResult<HashValue> check_ratchet_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  auto invalid = [&path](cord::Error error) {
    return std::unexpected(StoreError::ratchet_invalid(path, std::move(error)));
  };
  if (!has_magic(kRatchetFile, bytes)) return invalid(cord::Error::validation(missing_magic_message(kRatchetFile)));
  RootsMet met;
  roots_met = &met;
  auto entries = cord::from_slice<std::variant<cord::Set<CheckedEntry>>>(bytes.subspan(kRatchetFile.magic.size()));
  roots_met = nullptr;
  if (!entries) return invalid(std::move(entries).error());
  // The refusals of RatchetState::from_store, in its words.
  if (met.count > 1) return invalid(cord::Error::validation("ratchet file has several trusted-root records"));
  if (met.count == 0) return invalid(cord::Error::validation("ratchet file missing its trusted-root record"));
  return met.root;
}

StoreResult<cord::Buffer> encode_ratchet_file(const validate::RatchetState& state) {
  // Each entry is encoded straight from the state into one scratch buffer, and the set is written
  // from there: the same bytes as encoding a set of elements, without making the elements.
  cord::Buffer scratch;
  // Room for typical entries (an id, a counter, a short binding) at once: each growth of a buffer
  // that wipes what it leaves copies and wipes everything written so far.
  scratch.reserve(96 * state.counters.size() + 64);
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  ranges.reserve(state.counters.size() + 2 + state.raw_records.size());
  cord::Serializer es(scratch);
  cord::Status encoded = state.encode_entries(es, ranges);
  for (const cord::Bytes& raw : state.raw_records) {
    if (!encoded) break;
    const std::size_t start = scratch.size();
    encoded = cord::encode(es, core::RatchetElement::raw(raw));
    ranges.emplace_back(start, scratch.size());
  }
  if (!encoded) return std::unexpected(StoreError::from_cord(cord::Error::wrap_ser(std::move(encoded).error())));
  cord::Buffer out = start_file(kRatchetFile, 8 + scratch.size());
  cord::Serializer s(out);
  s.write_u32(0);  // the store's variant V1
  // The entries come in key order, which within one length and record kind is their encodings'
  // order (ids of one length), so they are grouped by those leading bytes instead of sorted.
  if (auto r = cord::serialize_encoded_set_grouped(s, scratch, ranges, cord::WidthHint::None); !r) {
    return std::unexpected(StoreError::from_cord(std::move(r).error()));
  }
  return out;
}

StoreResult<std::optional<validate::RatchetState>> load_ratchet(const WorkspacePaths& paths, const HashValue& root) {
  const std::filesystem::path path = paths.ratchet_path(root.bytes);
  OSTREL_TRY_ASSIGN(const auto bytes, read_optional_file(path, kRatchetFile.max_bytes));
  if (!bytes) return std::nullopt;
  OSTREL_TRY_ASSIGN(validate::RatchetState state, parse_for_root(path, root, *bytes));
  return state;
}

namespace {

// Nothing reaches the disk that would not load back for this root.
auto ratchet_checks(const WorkspacePaths& paths, const HashValue& root, const std::filesystem::path& path,
                    std::span<const std::uint8_t> bytes) {
  return [&paths, &root, path, bytes]() -> StoreResult<void> {
    OSTREL_TRY(parse_for_root(path, root, bytes));
    return prepare_state_dir(paths);
  };
}

// The bytes read are the bytes that parsed before the write, and parsing depends on nothing else,
// so parsing them again could only repeat that success.
StoreResult<void> parsed_before(std::span<const std::uint8_t>) { return {}; }

}  // namespace

StoreResult<void> write_ratchet_bytes(const WorkspacePaths& paths, const HashValue& root,
                                      std::span<const std::uint8_t> bytes) {
  const std::filesystem::path path = paths.ratchet_path(root.bytes);
  return write_verified(path, bytes, kRatchetFile, ratchet_checks(paths, root, path, bytes), parsed_before);
}

StoreResult<FileLocation> locate_ratchet(const WorkspacePaths& paths, const HashValue& root) {
  OSTREL_TRY(prepare_state_dir(paths));
  return locate_for_write(paths.ratchet_path(root.bytes), kRatchetFile.access);
}

StoreResult<std::optional<FileContents>> read_ratchet_bytes(const FileLocation& at) {
  return read_optional_file(at, kRatchetFile.max_bytes);
}

StoreResult<std::optional<LoadedRatchet>> load_ratchet(const FileLocation& at, const HashValue& root,
                                                       std::span<const core::VaultRecordV1> records) {
  OSTREL_TRY_ASSIGN(std::optional<FileContents> contents, read_ratchet_bytes(at));
  if (!contents) return std::nullopt;
  OSTREL_TRY_ASSIGN(validate::RatchetState state, parse_for_root(at.requested(), root, contents->bytes, records));
  return LoadedRatchet{std::move(state), std::move(*contents)};
}

StoreResult<WriteOutcome> write_ratchet_bytes(const WorkspacePaths& paths, const HashValue& root, const FileLocation& at,
                                              std::span<const std::uint8_t> bytes, ReplaceOnly only) {
  return write_verified(at, bytes, kRatchetFile, only, ratchet_checks(paths, root, at.requested(), bytes),
                        parsed_before);
}

StoreResult<WriteOutcome> write_parsed_ratchet(const FileLocation& at, std::span<const std::uint8_t> bytes,
                                               ReplaceOnly only) {
  const std::span<const std::uint8_t> whole[] = {bytes};
  return write_checked(at, Pieces(whole), kRatchetFile, only);
}

StoreResult<void> save_ratchet(const WorkspacePaths& paths, const validate::RatchetState& state) {
  OSTREL_TRY_ASSIGN(const cord::Buffer bytes, encode_ratchet_file(state));
  return write_ratchet_bytes(paths, state.trusted_root, bytes);
}

}  // namespace ostrel::store
