#include "core/validation_issue.h"

#include "errors/text_form.h"

namespace ostrel::core {

std::string ValidationIssue::debug() const {
  switch (kind_) {
    case InvalidStructure: return "InvalidStructure(" + errors::quoted(structure_message()) + ")";
    case InvalidSignature: return "InvalidSignature(" + entity_key().debug() + ")";
    case UnknownSignerKey: return "UnknownSignerKey(" + signer_key_id().debug() + ")";
    case RootNotTrusted: return "RootNotTrusted";
    case AmbiguousRoot: return "AmbiguousRoot";
    case AuthorityDidNotConverge: return "AuthorityDidNotConverge";
    case FormatVersionRegression: {
      const FormatVersions& v = format_versions();
      return "FormatVersionRegression { remembered: " + std::to_string(v.remembered) +
             ", current: " + std::to_string(v.current) + " }";
    }
  }
  return "ValidationIssue";
}

}  // namespace ostrel::core
