// RatchetState: what the anti-rollback ratchet remembers about one trusted root (per entity the
// highest counter and its binding, the highest format version, and entries of later versions
// kept verbatim), with the conversions to and from ratchet records. The state only grows.
// A plain value; not synchronised (callers hold the root's state lock while it is saved).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "cord/codec.h"
#include "core/ratchet_records.h"
#include "core/validate/flat_map.h"
#include "core/validate/state.h"
#include "errors/ops_error.h"

namespace ostrel::validate {

// The entity record of `key`'s kind with that counter; a binding of another kind is written as
// "no binding". None for the vault root, which is never counted.
std::optional<core::RatchetRecordV1> ratchet_record_from_counter(const EntityKey& key, std::uint64_t counter,
                                                                 const EntityBinding* binding);

struct RatchetState {
  HashValue trusted_root;  // key id of the trusted root's signing key
  // Payloads of stored entries this version cannot interpret, in the order met; written back
  // unchanged so that a later version's facts survive our rewrites.
  std::vector<cord::Bytes> raw_records;
  // Both in key order, which is the order records are written in. Held as sorted vectors: an
  // iterator or reference into one does not survive a change to the state.
  FlatMap<EntityKey, std::uint64_t> counters;
  FlatMap<EntityKey, EntityBinding> bindings;  // every key is also a key of `counters`
  std::uint64_t format_version = 0;            // 0: none remembered

  // The state of a root nothing is remembered for yet.
  static RatchetState fresh(HashValue root);

  // The state an invitation's baseline seeds for `root`: a fresh state with every record
  // applied in list order (counters and format version by maximum, the first binding of a key
  // kept; trusted-root records change nothing).
  static RatchetState from_baseline(const HashValue& root, std::span<const core::RatchetRecordV1> baseline);

  // The state a ratchet file's entries hold, walked in file order: the one TrustedRoot entry
  // names the root, raw entries are kept, every other entry is applied. A set without a
  // trusted-root entry, or with several, is refused with a validation error.
  static cord::Result<RatchetState> from_store(std::span<const core::RatchetElement> entries);

  // Raises the record's entity counter (or the format version); a binding is remembered only
  // when none is yet. A TrustedRoot record changes nothing.
  void apply_record(const core::RatchetRecordV1& record);

  // Raises the state to a derived state's view; never lowers anything, never replaces a binding.
  void advance(const RatchetView& view);

  // What one advance changed, so that it can be taken back: the counters it raised or added (with
  // the value each had, none when it was added), the bindings it added and the format version
  // before it. Both lists are in key order.
  struct Advance {
    std::vector<std::pair<EntityKey, std::optional<std::uint64_t>>> counters;
    std::vector<EntityKey> bindings;
    std::uint64_t format_version = 0;
  };
  // advance, noting what it changes: a writer raises the state in place, and takes the raise back
  // when its write fails, instead of copying the whole state first.
  Advance advance_noting(const RatchetView& view);
  // Takes back what advance_noting changed. REQUIRES: nothing else changed the state since.
  void take_back(Advance&& changes);

  // Makes each remembered secret binding that a record of `state` states alike refer to that record
  // instead of owning a copy: the same content, held once. A ratchet read from its file without
  // its vault's records (RatchetStateLoader), or merged with another, owns a copy of each secret's
  // selector, which its vault's records hold already.
  void share_bindings(const VaultState& state);

  // Takes in everything `other` remembers (counters and format version by maximum, our bindings
  // first, its raw entries not already kept). Fails with RecoveryMismatch, changing nothing,
  // when the two belong to different roots.
  OpsResult<void> merge(const RatchetState& other);

  // One record per remembered counter in key order (with its binding), then FormatVersion when
  // not 0, then TrustedRoot last. Raw entries are not included.
  std::vector<core::RatchetRecordV1> to_records() const;

  // Each record of to_records() in turn, without holding them all.
  void visit_records(const std::function<void(const core::RatchetRecordV1&)>& visit) const;

  // The entries of a ratchet file: to_records(), then every raw entry verbatim.
  std::vector<core::RatchetElement> to_elements() const;

  // The ratchet-file entry (an evolving slot) of each record of to_records(), in that order,
  // appended to `s` with the bytes cord::encode writes for a RatchetElement holding the record;
  // `ranges` gains where each lies in s.out(). Written from the maps' keys, counters and
  // bindings in place, without making the records. Raw entries are not included.
  cord::Status encode_entries(cord::Serializer& s, std::vector<std::pair<std::size_t, std::size_t>>& ranges) const;

  friend bool operator==(const RatchetState&, const RatchetState&) = default;

 private:
  friend class RatchetStateLoader;

  // Entity counters and bindings of records met but not yet in the maps. Many records are put by
  // as met and folded in at once: inserting each into the sorted maps would shift their entries
  // every time.
  struct PutBy {
    std::vector<std::pair<EntityKey, std::uint64_t>> counters;
    std::vector<std::pair<EntityKey, EntityBinding>> bindings;
  };
  // apply_record, the entity's counter and binding put by in `later`; `stated`, when given, is
  // the binding to remember instead of the record's own (the same content, held elsewhere).
  void apply_later(const core::RatchetRecordV1& record, PutBy& later,
                   std::optional<EntityBinding> stated = std::nullopt);
  // Applies what was put by, as applying its records in the order met would.
  void fold_in(PutBy&& later);

  template <class Fn>
  void for_each_record(Fn&& fn) const;
};

// RatchetState::from_store for entries met one at a time, so that a file can be read without
// holding all its entries at once: add() each in file order, then finish(), which refuses as
// from_store does.
class RatchetStateLoader {
 public:
  RatchetStateLoader() = default;
  // A loader whose secret bindings refer to a record of `records` that states the same selector,
  // holding that record, instead of owning a copy: the state is the same, its content held once.
  // REQUIRES: `records` outlive the adding of entries (they are searched then, and not after).
  explicit RatchetStateLoader(std::span<const core::VaultRecordV1> records);

  void add(const core::RatchetElement& entry);
  cord::Result<RatchetState> finish() &&;

 private:
  // The binding a record of `records_` gives that equals the secret binding `record` remembers;
  // none when the record remembers none or no record states it.
  // Searches on from the previous search when the id is not below the previous one.
  std::optional<EntityBinding> stated_binding(const core::RatchetRecordV1& record);

  RatchetState state_;
  RatchetState::PutBy later_;
  std::size_t roots_ = 0;  // trusted-root entries met; the first names the root
  std::span<const core::VaultRecordV1> records_;
  // The secret records of `records_`, as (the first bytes of the secret id, index), ascending: a
  // small key to search by, the selector compared in full.
  std::vector<std::pair<std::uint64_t, std::size_t>> secrets_;
  // Where the last search ended in `secrets_`, and the prefix it looked for: every entry before
  // that position has a lower prefix.
  std::size_t searched_ = 0;
  std::uint64_t last_prefix_ = 0;
};

// Whether the derived state saw a rollback: some unresolved entity carries a remembered counter.
bool has_rolled_back(const VaultState& state);

}  // namespace ostrel::validate
