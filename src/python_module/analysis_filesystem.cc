// StdAstFileSystem and AstFileParserCache: the file system of project
// analysis and a parse cache of its own over it.
//
// The constructors keep the interpreter lock (they only convert and store).
// Reading, listing and parsing run without it, so other Python threads go on
// meanwhile; the Python results are built after the lock is taken back.

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "python_module/analysis_classes.h"
#include "python_module/arguments.h"
#include "python_module/class_builder.h"
#include "python_module/converters.h"
#include "python_module/errors.h"
#include "python_module/interpreter_lock.h"
#include "python_module/py_ref.h"
#include "python_module/result_conversion.h"
#include "tolva_ast/parser_cache.h"

namespace python_module {

namespace {

using tolva_ast::AstFileParserCache;
using tolva_ast::SharedAstFileSystem;
using tolva_ast::StdAstFileSystem;

// A list of `str`, or OSError with the I/O error's text as its only argument.
PyObject* file_list_or_os_error(const tolva::Result<std::vector<std::string>>& files) {
  if (!files) return raise_os_error(files.error());
  const RecordOwner no_record;
  return to_python(files.value(), FieldContext{no_record, nullptr});
}

// ---- StdAstFileSystem -------------------------------------------------------

using FileSystemHandle = std::shared_ptr<const StdAstFileSystem>;

constexpr const char* kPathParameter[] = {"path"};
constexpr Signature kReadToString{"read_to_string", "StdAstFileSystem", kPathParameter, 1};

PyObject* read_to_string(const FileSystemHandle& filesystem, PyObject* const* args, Py_ssize_t nargs,
                         PyObject* kwnames) {
  std::array<PyObject*, 1> bound;
  if (!bind_fastcall(kReadToString, args, nargs, kwnames, bound)) return nullptr;
  std::string_view path;
  if (!convert_argument(kReadToString, bound, 0, convert_text, path)) return nullptr;

  tolva::Result<std::string> text = run_unlocked([&] { return filesystem->read_to_string(path); });
  if (!text) return raise_os_error(text.error());
  return new_text(text.value());
}

PyObject* filesystem_all_files(const FileSystemHandle& filesystem) {
  return file_list_or_os_error(run_unlocked([&] { return filesystem->all_files(); }));
}

constexpr const char* kFileSystemParameters[] = {"files"};
constexpr Signature kNewFileSystem{"__new__", "StdAstFileSystem", kFileSystemParameters, 1};

PyObject* new_filesystem(PyTypeObject* type, ModuleState& state, PyObject* args, PyObject* kwargs);

struct FileSystemClass {
  using Value = FileSystemHandle;
  static constexpr PyTypeObject* ModuleState::*kClass = &ModuleState::file_system_class;
  static constexpr const char* kName = "builtins.StdAstFileSystem";
  static constexpr const char* kDoc = "StdAstFileSystem(files)\n--\n\n";
  static constexpr newfunc kNew = constructor<&new_filesystem>;
  static PyGetSetDef* getters() { return nullptr; }
  static PyMethodDef* methods() {
    static PyMethodDef definitions[] = {
        {"read_to_string", as_method(&fastcall_method<FileSystemClass, &read_to_string>),
         METH_FASTCALL | METH_KEYWORDS, "read_to_string($self, path)\n--\n\n"},
        {"all_files", as_method(&noargs_method<FileSystemClass, &filesystem_all_files>), METH_NOARGS,
         "all_files($self)\n--\n\n"},
        {},
    };
    return definitions;
  }
};

PyObject* new_filesystem(PyTypeObject* type, ModuleState& state, PyObject* args, PyObject* kwargs) {
  std::array<PyObject*, 1> bound;
  if (!bind_tuple_and_dict(kNewFileSystem, args, kwargs, bound)) return nullptr;
  std::vector<std::string> files;
  if (!convert_argument(kNewFileSystem, bound, 0, TextListConversion{state}, files)) return nullptr;
  return NativeClass<FileSystemClass>::wrap(type, std::make_shared<const StdAstFileSystem>(std::move(files)));
}

// ---- AstFileParserCache -----------------------------------------------------

constexpr const char* kGetParsedFile[] = {"path"};
constexpr Signature kGetParsedFileSignature{"get_parsed_file", "AstFileParserCache", kGetParsedFile, 1};

// The imports of a parsed file: module name to imported name to the list of
// local names. The native sets are ordered by bytes, so each list comes out
// sorted by bytes.
PyObject* imports_to_python(const tolva_ast::ImportMap& imports) {
  Owned modules = Owned::steal(PyDict_New());
  if (!modules) return nullptr;
  for (const auto& [module, names] : imports) {
    Owned by_name = Owned::steal(PyDict_New());
    if (!by_name) return nullptr;
    for (const auto& [name, locals] : names) {
      Owned list = Owned::steal(PyList_New(static_cast<Py_ssize_t>(locals.size())));
      if (!list) return nullptr;
      Py_ssize_t index = 0;
      for (const std::string& local : locals) {
        PyObject* text = new_text(local);
        if (text == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), index++, text);  // steals `text`
      }
      Owned key = Owned::steal(new_text(name));
      if (!key || PyDict_SetItem(by_name.get(), key.get(), list.get()) < 0) return nullptr;
    }
    Owned key = Owned::steal(new_text(module));
    if (!key || PyDict_SetItem(modules.get(), key.get(), by_name.get()) < 0) return nullptr;
  }
  return modules.release();
}

PyObject* get_parsed_file(const AstFileParserCache& cache, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  std::array<PyObject*, 1> bound;
  if (!bind_fastcall(kGetParsedFileSignature, args, nargs, kwnames, bound)) return nullptr;
  std::string_view path;
  if (!convert_argument(kGetParsedFileSignature, bound, 0, convert_text, path)) return nullptr;

  tolva::Result<tolva_ast::SharedParsedFileCache> parsed = run_unlocked([&] { return cache.get_parsed_file(path); });
  if (!parsed) return raise_value_error(parsed.error());
  const tolva_ast::ParsedFileCache& file = *parsed.value();
  Owned py_path = Owned::steal(new_text(file.path));
  if (!py_path) return nullptr;
  Owned source = Owned::steal(new_text(file.source()));
  if (!source) return nullptr;
  Owned imports = Owned::steal(imports_to_python(file.imports));
  if (!imports) return nullptr;
  return PyTuple_Pack(3, py_path.get(), source.get(), imports.get());
}

PyObject* cache_all_files(const AstFileParserCache& cache) {
  return file_list_or_os_error(run_unlocked([&] { return cache.all_files(); }));
}

constexpr const char* kCacheParameters[] = {"files", "project_root", "filesystem"};
constexpr Signature kNewCache{"__new__", "AstFileParserCache", kCacheParameters, 2};

PyObject* new_cache(PyTypeObject* type, ModuleState& state, PyObject* args, PyObject* kwargs);

struct CacheClass {
  using Value = AstFileParserCache;
  static constexpr PyTypeObject* ModuleState::*kClass = &ModuleState::parser_cache_class;
  static constexpr const char* kName = "builtins.AstFileParserCache";
  static constexpr const char* kDoc = "AstFileParserCache(files, project_root, filesystem=None)\n--\n\n";
  static constexpr newfunc kNew = constructor<&new_cache>;
  static PyGetSetDef* getters() { return nullptr; }
  static PyMethodDef* methods() {
    static PyMethodDef definitions[] = {
        {"all_files", as_method(&noargs_method<CacheClass, &cache_all_files>), METH_NOARGS,
         "all_files($self)\n--\n\n"},
        {"get_parsed_file", as_method(&fastcall_method<CacheClass, &get_parsed_file>), METH_FASTCALL | METH_KEYWORDS,
         "get_parsed_file($self, path)\n--\n\n"},
        {},
    };
    return definitions;
  }
};

// Keeps the interpreter lock throughout, including the listing that a shared
// file system is asked for.
PyObject* new_cache(PyTypeObject* type, ModuleState& state, PyObject* args, PyObject* kwargs) {
  ProjectArguments arguments;
  if (!convert_project_arguments(state, kNewCache, args, kwargs, arguments)) return nullptr;
  std::string project_root(arguments.project_root);
  if (arguments.filesystem == nullptr) {
    return NativeClass<CacheClass>::wrap(type, AstFileParserCache(std::move(project_root), std::move(arguments.files)));
  }
  // The cache lists the shared file system; the converted `files` plays no
  // further part.
  return NativeClass<CacheClass>::wrap(
      type, AstFileParserCache::with_filesystem(std::move(project_root), std::move(arguments.filesystem)));
}

bool convert_filesystem(PyObject* object, SharedAstFileSystem& out) {
  const FileSystemHandle* handle = nullptr;
  if (!convert_optional_instance<FileSystemClass>(object, handle)) return false;
  if (handle == nullptr) {
    out.reset();
  } else {
    out = *handle;
  }
  return true;
}

}  // namespace

bool convert_project_arguments(ModuleState& state, const Signature& signature, PyObject* args, PyObject* kwargs,
                               ProjectArguments& out) {
  std::array<PyObject*, 3> bound;
  if (!bind_tuple_and_dict(signature, args, kwargs, bound)) return false;
  return convert_argument(signature, bound, 0, TextListConversion{state}, out.files) &&
         convert_argument(signature, bound, 1, convert_text, out.project_root) &&
         convert_argument(signature, bound, 2, convert_filesystem, out.filesystem);
}

PyObject* create_std_ast_file_system_class(PyObject* module) {
  return NativeClass<FileSystemClass>::create(module);
}
PyObject* create_ast_file_parser_cache_class(PyObject* module) { return NativeClass<CacheClass>::create(module); }

}  // namespace python_module
