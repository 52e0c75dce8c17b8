// Property of the invitation decoders: whatever decodes, in either form, encodes to its canonical
// form, and the canonical form decodes to the same invitation. The first byte picks how the rest
// is read: as an invitation text; as a payload written into a text (either checksum, either case,
// white space around it), so that the fuzzer reaches the payload decoder through the text form;
// or as the byte form.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cord/codec.h"
#include "frontend/invite/bech32.h"
#include "frontend/invite/parse.h"
#include "frontend/invite/text_form.h"

using namespace ostrel;
using namespace ostrel::frontend::invite;

namespace {

bool same(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// A decoded invitation's canonical text decodes to the same payload and writes itself again.
void check_text_round_trip(const core::Invite& invite, std::size_t input_length) {
  auto payload = cord::to_vec(invite);
  if (!payload) std::abort();  // decoded values always encode
  auto canonical = to_text(invite);
  // Every decoded text held at least as many data characters as the canonical one needs.
  if (!canonical || canonical->size() > input_length) std::abort();
  auto again = decode_text(*canonical);
  if (!again || !same(*again, *payload)) std::abort();
  auto reparsed = parse(*canonical, std::nullopt);
  if (!reparsed) std::abort();
  auto rewritten = to_text(*reparsed);
  if (!rewritten || *rewritten != *canonical) std::abort();
}

void fuzz_text(std::string_view text) {
  if (auto payload = decode_text(text)) {
    // The payload round-trips through the canonical text whether or not it is an Invite.
    auto canonical = encode_text(*payload);
    if (!canonical) std::abort();
    auto again = decode_text(*canonical);
    if (!again || !same(*again, *payload)) std::abort();
  }
  if (auto invite = parse(text, std::nullopt)) check_text_round_trip(*invite, text.size());
}

void fuzz_payload_in_text(std::span<const std::uint8_t> input) {
  if (input.empty()) return;
  const std::uint8_t flags = input[0];
  const auto payload = input.subspan(1);
  const auto encoding = (flags & 1) ? Bech32Encoding::Bech32 : Bech32Encoding::Bech32m;
  std::string text = bech32_encode(kTextPrefix, bytes_to_groups(payload), encoding);
  if (flags & 2) {
    for (char& c : text) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
  }
  if (flags & 4) text = "\xE3\x80\x80 " + text + "\n";
  auto invite = parse(text, std::nullopt);
  const auto direct = cord::from_slice<core::Invite>(payload);
  const std::size_t trimmed = text.size() - ((flags & 4) ? 5 : 0);
  if (flags & 2) {
    // Case is not folded for the prefix: an upper-case text names OSTR or is too long.
    if (invite) std::abort();
    return;
  }
  if (trimmed <= kMaxTextLength) {
    // The text form adds nothing to the payload's own decoding.
    if (invite.has_value() != direct.has_value()) std::abort();
    if (!invite && invite.error().kind() != FrontendError::Cord) std::abort();
    if (invite) check_text_round_trip(*invite, trimmed);
  } else if (invite || invite.error().kind() != FrontendError::InviteMalformed) {
    std::abort();
  }
}

void fuzz_bytes(std::span<const std::uint8_t> bytes) {
  auto invite = parse_file_bytes(bytes);
  if (!invite) return;
  auto written = to_file_bytes(*invite);
  if (!written || !same(*written, bytes)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> rest(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0: fuzz_text(std::string_view(reinterpret_cast<const char*>(rest.data()), rest.size())); break;
    case 1: fuzz_payload_in_text(rest); break;
    case 2: fuzz_bytes(rest); break;
  }
  return 0;
}
