#pragma once

// tolva-dump analyse ROOT FILE...: the analysis of each file as JSON.
//
// One line per FILE, in argument order:
//   {"path": P, "module": M, "uri": U, "feature_classes": [...],
//    "functions": [...], "resolvers": [...]}
// or, when the file cannot be read or parsed,
//   {"path": P, "module": M, "error": TEXT}
// P is FILE as given; M its module name below ROOT, as the parse cache names
// it; U the file's URI, or null when the path gives no location (then the
// three lists are empty); TEXT the parse cache's error text. Records are
// objects whose keys are their fields in declaration order (ast_types.h;
// `namespace_` is written "namespace"); a location is [start_line,
// start_character, end_line, end_character] or null; maps are objects with
// keys sorted by bytes, at every level; lists keep their order.

#include <iosfwd>
#include <span>
#include <string>

namespace tolva_dump {

// Exit status 0, whatever the files give; 3 when an analysis failed fatally
// (a broken invariant, reported on standard error).
int analyse_files(const std::string& root, std::span<const std::string> paths, std::ostream& out);

}  // namespace tolva_dump
