// AstProjectIndex: lookups of functions, resolvers and feature classes in a
// project, and background indexing.
//
// The constructor builds the index without the interpreter lock. A lookup
// keeps the lock while every file it needs is analysed already (the answer is
// then a matter of microseconds); the first time it has to read, parse or
// analyse a file, or to wait for an indexing thread that is doing so, the
// index calls the lookup's BeforeBlocking hook, which releases the lock until
// the lookup returns. A cold lookup over a large project therefore never
// stops the other Python threads. The arguments are converted before, and
// the record object is built after, the lock is taken back; the texts the
// index reads while the lock is released belong to `str` arguments that the
// caller keeps alive for the whole call.

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "python_module/analysis_classes.h"
#include "python_module/arguments.h"
#include "python_module/class_builder.h"
#include "python_module/errors.h"
#include "python_module/interpreter_lock.h"
#include "python_module/py_ref.h"
#include "tolva_ast/project_index.h"

namespace python_module {

namespace {

using tolva_ast::AstProjectIndex;
using tolva_ast::BeforeBlocking;
using tolva_ast::FeatureClassAST;
using tolva_ast::ResolverAST;

PyObject* to_object(const ModuleState& state, std::optional<ResolverAST> record) {
  if (!record) Py_RETURN_NONE;
  return new_resolver_object(state, std::move(*record));
}

PyObject* to_object(const ModuleState& state, std::optional<FeatureClassAST> record) {
  if (!record) Py_RETURN_NONE;
  return new_feature_class_object(state, std::move(*record));
}

// One lookup method: binds and converts its two texts, runs `Lookup` with a
// hook that releases the interpreter lock, and wraps the answer in the class
// that `state` keeps.
using LookupFunction = std::optional<ResolverAST> (AstProjectIndex::*)(std::string_view, std::string_view,
                                                                     const BeforeBlocking&) const;
using FeatureLookupFunction = std::optional<FeatureClassAST> (AstProjectIndex::*)(std::string_view, std::string_view,
                                                                                const BeforeBlocking&) const;

template <const Signature& kSignature, auto Lookup>
PyObject* lookup(ModuleState& state, const AstProjectIndex& index, PyObject* const* args, Py_ssize_t nargs,
                 PyObject* kwnames) {
  std::array<PyObject*, 2> bound;
  if (!bind_fastcall(kSignature, args, nargs, kwnames, bound)) return nullptr;
  std::string_view first;
  std::string_view name;
  if (!convert_argument(kSignature, bound, 0, convert_text, first)) return nullptr;
  if (!convert_argument(kSignature, bound, 1, convert_text, name)) return nullptr;

  auto answer = run_unlocking_on_demand([&](auto& release) {
    const BeforeBlocking before_blocking = release;
    return (index.*Lookup)(first, name, before_blocking);
  });
  return to_object(state, std::move(answer));
}

constexpr const char* kClass = "AstProjectIndex";
constexpr const char* kModuleClass[] = {"module", "class_name"};
constexpr const char* kFileClass[] = {"file_path", "class_name"};
constexpr const char* kModuleResolver[] = {"module", "resolver_name"};
constexpr const char* kFileResolver[] = {"file_path", "resolver_name"};
constexpr const char* kModuleFunction[] = {"module", "function_name"};
constexpr const char* kFileFunction[] = {"file_path", "function_name"};
constexpr Signature kFeatureClassAst{"feature_class_ast", kClass, kModuleClass, 2};
constexpr Signature kFeatureClassAstInFile{"feature_class_ast_in_file", kClass, kFileClass, 2};
constexpr Signature kResolverAst{"resolver_ast", kClass, kModuleResolver, 2};
constexpr Signature kResolverAstInFile{"resolver_ast_in_file", kClass, kFileResolver, 2};
constexpr Signature kFunctionAst{"function_ast", kClass, kModuleFunction, 2};
constexpr Signature kFunctionAstInFile{"function_ast_in_file", kClass, kFileFunction, 2};

// Keeps the interpreter lock: starting the threads does not wait for them.
PyObject* nonblocking_start_index(const AstProjectIndex& index) {
  index.nonblocking_start_index();
  Py_RETURN_NONE;
}

constexpr const char* kIndexParameters[] = {"files", "project_root", "filesystem"};
constexpr Signature kNewIndex{"__new__", kClass, kIndexParameters, 2};

PyObject* new_index(PyTypeObject* type, ModuleState& state, PyObject* args, PyObject* kwargs);

struct IndexClass {
  using Value = AstProjectIndex;
  static constexpr PyTypeObject* ModuleState::*kClass = &ModuleState::project_index_class;
  static constexpr const char* kName = "builtins.AstProjectIndex";
  static constexpr const char* kDoc = "AstProjectIndex(files, project_root, filesystem=None)\n--\n\n";
  static constexpr newfunc kNew = constructor<&new_index>;
  static PyGetSetDef* getters() { return nullptr; }
  static PyMethodDef* methods() {
    constexpr int kFastcall = METH_FASTCALL | METH_KEYWORDS;
    using C = IndexClass;
    using I = AstProjectIndex;
    static PyMethodDef definitions[] = {
        {"feature_class_ast",
         as_method(&fastcall_method<C, &lookup<kFeatureClassAst, FeatureLookupFunction{&I::feature_class_ast}>>),
         kFastcall, "feature_class_ast($self, module, class_name)\n--\n\n"},
        {"feature_class_ast_in_file",
         as_method(&fastcall_method<
                   C, &lookup<kFeatureClassAstInFile, FeatureLookupFunction{&I::feature_class_ast_in_file}>>),
         kFastcall, "feature_class_ast_in_file($self, file_path, class_name)\n--\n\n"},
        {"resolver_ast", as_method(&fastcall_method<C, &lookup<kResolverAst, LookupFunction{&I::resolver_ast}>>),
         kFastcall, "resolver_ast($self, module, resolver_name)\n--\n\n"},
        {"resolver_ast_in_file",
         as_method(&fastcall_method<C, &lookup<kResolverAstInFile, LookupFunction{&I::resolver_ast_in_file}>>),
         kFastcall, "resolver_ast_in_file($self, file_path, resolver_name)\n--\n\n"},
        {"function_ast", as_method(&fastcall_method<C, &lookup<kFunctionAst, LookupFunction{&I::function_ast}>>),
         kFastcall, "function_ast($self, module, function_name)\n--\n\n"},
        {"function_ast_in_file",
         as_method(&fastcall_method<C, &lookup<kFunctionAstInFile, LookupFunction{&I::function_ast_in_file}>>),
         kFastcall, "function_ast_in_file($self, file_path, function_name)\n--\n\n"},
        {"nonblocking_start_index", as_method(&noargs_method<C, &nonblocking_start_index>), METH_NOARGS,
         "nonblocking_start_index($self)\n--\n\n"},
        {},
    };
    return definitions;
  }
};

PyObject* new_index(PyTypeObject* type, ModuleState& state, PyObject* args, PyObject* kwargs) {
  ProjectArguments arguments;
  if (!convert_project_arguments(state, kNewIndex, args, kwargs, arguments)) return nullptr;
  std::string project_root(arguments.project_root);
  AstProjectIndex index = run_unlocked([&] {
    if (arguments.filesystem == nullptr) return AstProjectIndex(std::move(project_root), std::move(arguments.files));
    return AstProjectIndex::with_filesystem(std::move(project_root), std::move(arguments.files),
                                            std::move(arguments.filesystem));
  });
  return NativeClass<IndexClass>::wrap(type, std::move(index));
}

}  // namespace

PyObject* create_ast_project_index_class(PyObject* module) { return NativeClass<IndexClass>::create(module); }

}  // namespace python_module
