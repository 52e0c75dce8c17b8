#include "keychain/unlock_purpose.h"

#include "errors/text_form.h"

namespace ostrel::keychain {
namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

std::string command_text(const std::vector<std::string>& words) {
  if (words.empty()) return "<empty command>";
  std::string out;
  for (const std::string& w : words) {
    if (!out.empty()) out += ' ';
    out += w;
  }
  return out;
}

std::string selectors_text(const std::vector<std::string>& selectors) {
  if (selectors.size() == 1) return selectors.front();
  if (selectors.empty()) return "no selectors";
  return std::to_string(selectors.size()) + " selectors";
}

std::string target_text(const RevealTarget& target) {
  return std::visit(Overloaded{
                        [](const RevealTarget::Stdout&) -> std::string { return "stdout"; },
                        [](const RevealTarget::File& f) { return "file " + errors::path_text(f.path); },
                        [](const RevealTarget::Clipboard&) -> std::string { return "clipboard"; },
                        [](const RevealTarget::ChildProcess& c) { return "child process " + command_text(c.command); },
                        [](const RevealTarget::SdkCaller& s) { return "SDK caller " + s.text; },
                        [](const RevealTarget::Custom& c) { return c.text; },
                    },
                    target.target);
}

}  // namespace

std::string display_selector(const core::SecretSelectorV1& selector) {
  std::string out;
  for (const cord::Text& segment : selector.tuple) {
    if (!out.empty()) out += '/';
    out += segment.view();
  }
  if (selector.tuple.empty()) out = "<root>";
  if (!selector.labels.empty()) {
    out += '{';
    bool first = true;
    for (const core::SecretLabelV1& label : selector.labels) {
      if (!first) out += ',';
      first = false;
      out.append(label.key.view()).append("=").append(label.value.view());
    }
    out += '}';
  }
  return out;
}

std::string UnlockPurpose::text() const {
  return std::visit(
      Overloaded{
          [](const Reveal& r) { return "reveal " + display_selector(r.selector) + " to " + target_text(r.target); },
          [](const Run& r) { return "run " + command_text(r.command) + " with " + selectors_text(r.selectors); },
          [](const Set& s) { return "set " + display_selector(s.selector); },
          [](const Move& m) { return "move " + display_selector(m.from) + " to " + display_selector(m.to); },
          [](const Delete& d) { return "delete " + display_selector(d.selector); },
          [](const Custom& c) { return c.text; },
          [](const StoreIdentity&) -> std::string { return "store this identity"; },
          [](const VerifyVault&) -> std::string { return "verify and inspect the vault"; },
      },
      purpose);
}

bool UnlockPurpose::reads_only() const {
  return std::holds_alternative<Reveal>(purpose) || std::holds_alternative<Run>(purpose) ||
         std::holds_alternative<VerifyVault>(purpose);
}

}  // namespace ostrel::keychain
