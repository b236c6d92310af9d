# The libraries under src/, lowest layer first: the one list that the main
# build, the benchmarks and the fuzzer take them from.
set(TOLVA_MODULES support text_size source_file python_trivia python_ast python_parser tolva_utils tolva_ast
                  python_module test_support)
# The libraries the parser is built from (the fuzzer compiles their sources).
set(TOLVA_PARSER_MODULES support text_size python_ast python_parser)
