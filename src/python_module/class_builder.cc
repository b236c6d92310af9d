#include "python_module/class_builder.h"

#include "python_module/arguments.h"

namespace python_module {

PyObject* create_class(const ClassSpec& spec, PyObject* module) {
  // Slots, in the order the interpreter reads them; only what the common
  // shape needs: no special methods, so objects keep identity semantics.
  PyType_Slot slots[6];
  int count = 0;
  slots[count++] = {Py_tp_doc, const_cast<char*>(spec.doc)};
  slots[count++] = {Py_tp_dealloc, reinterpret_cast<void*>(spec.dealloc)};
  if (spec.new_object != nullptr) slots[count++] = {Py_tp_new, reinterpret_cast<void*>(spec.new_object)};
  if (spec.getters != nullptr) slots[count++] = {Py_tp_getset, spec.getters};
  if (spec.methods != nullptr) slots[count++] = {Py_tp_methods, spec.methods};
  slots[count] = {0, nullptr};

  // Not Py_TPFLAGS_BASETYPE (no subclasses), no dict or weak-list offsets.
  unsigned int flags = Py_TPFLAGS_DEFAULT;
  if (spec.new_object == nullptr) flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;

  PyType_Spec type_spec{spec.name, spec.basic_size, 0, flags, slots};
  return PyType_FromModuleAndSpec(module, &type_spec, nullptr);
}

PyObject* raise_wrong_type(const char* expected, PyObject* object, bool or_none) {
  Owned type = Owned::steal(type_name_of(object));
  if (!type) return nullptr;
  PyErr_Format(PyExc_TypeError, "must be %s%s, not %U", expected, or_none ? " or None" : "", type.get());
  return nullptr;
}

}  // namespace python_module
