#pragma once

// A probe into an index, for its tests: whether lookups answer from the
// tables, and a hook between storing and counting a listed file.

#include "tolva_ast/project_index.h"

namespace tolva_ast::testing {

class ProjectIndexProbe {
 public:
  // Whether the project-wide lookups of `index` answer from the tables of
  // a fully analysed index instead of walking its list.
  static bool answers_from_tables(const AstProjectIndex& index);

  // Runs `hook` (null: nothing) on a thread that has just stored the
  // analysis of a listed file, before it counts that file as analysed.
  static void set_after_listed_outcome_stored(void (*hook)());
};

}  // namespace tolva_ast::testing
