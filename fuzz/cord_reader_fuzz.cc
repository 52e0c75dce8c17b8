// Property: any input either fails with an error or decodes to a value whose encoding is exactly
// the input. Covers every construct of the encoding through one made-up document type.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cord/cord.h"

namespace {

using namespace ostrel::cord;

struct Unit {
  static constexpr bool cord_unit = true;
};

enum class Colour : std::uint32_t { Red, Green, Blue };
constexpr std::uint32_t cord_variant_count(Colour) { return 3; }

struct Leaf {
  std::uint64_t n = 0;
  std::string text;
  Bytes bytes;
  std::optional<std::uint32_t> maybe;
  static auto cord_fields(auto& s) { return std::tie(s.n, s.text, s.bytes, s.maybe); }
};

struct Box;
using Kind = std::variant<Unit, Leaf, std::vector<std::string>, Set<Bytes>, Named<"__cord_width8", std::string>,
                          Named<"__cord_width16", Bytes>, Named<"__cord_width64", std::vector<std::uint64_t>>,
                          Named<"__cord_varint", Set<std::string>>, Colour, std::pair<std::string, Colour>,
                          Evolving<Leaf, Width::W8>, Evolving<Leaf, Width::W16>, Named<"__cord_uuid", Uuid>,
                          std::optional<Named<"__cord_width8", Colour>>, Box>;

struct Box {
  std::vector<Kind> children;
  static auto cord_fields(auto& s) { return std::tie(s.children); }
};

struct Doc {
  Set<Evolving<Kind>> items;
  std::vector<Kind> list;
  static auto cord_fields(auto& s) { return std::tie(s.items, s.list); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto decoded = from_slice<Doc>(std::span<const std::uint8_t>(data, size));
  if (!decoded) return 0;
  auto encoded = to_vec(*decoded);
  if (!encoded || encoded->size() != size || std::memcmp(encoded->data(), data, size) != 0) std::abort();
  return 0;
}
