#pragma once

// The whole syntax tree: every node family and record. Include this one
// header to build or read trees; nodes_common.h explains the layout.

#include "python_ast/nodes_common.h"
#include "python_ast/nodes_expr.h"
#include "python_ast/nodes_family.h"
#include "python_ast/nodes_parameters.h"
#include "python_ast/nodes_pattern.h"
#include "python_ast/nodes_stmt.h"
#include "python_ast/nodes_string.h"
