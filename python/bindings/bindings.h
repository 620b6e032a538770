// Shared declarations of the _orvik_core binding files: one registration function per bound
// area, and the templates that register the repeated shapes of the value classes.
#pragma once

#include <initializer_list>
#include <utility>

#include <pybind11/pybind11.h>
// Every binding file sees the same container conversions (lists, dicts, pairs, strings).
#include <pybind11/stl.h>

namespace orvik_bindings {

namespace py = pybind11;

// Registers the enumerations and model classes, from ObjectiveType to Result.
void bind_model(py::module_& m);
// Registers Solver.
void bind_solver(py::module_& m);
// Registers solve_json_file and solve_json_str.
void bind_json_entry_points(py::module_& m);
// Registers solve_document.
void bind_solve_document(py::module_& m);
// Registers the private submodule _rules.
void bind_rules(py::module_& m);

// A classic (non-arithmetic) enumeration whose members live on the type only. pybind11 lets
// members of an unscoped C++ enumeration compare equal to plain integers and to members of other
// enumerations with the same value; here a member compares equal only to members of its own
// type, by value.
template <typename Enum>
py::enum_<Enum> bind_enum(py::module_& m, const char* name,
                          std::initializer_list<std::pair<const char*, Enum>> members) {
  py::enum_<Enum> cls(m, name);
  for (const auto& [member_name, value] : members) {
    cls.value(member_name, value);
  }
  cls.attr("__eq__") = py::cpp_function(
      [](const py::object& self, const py::object& other) {
        return py::type::handle_of(self).is(py::type::handle_of(other)) &&
               py::int_(self).equal(py::int_(other));
      },
      py::name("__eq__"), py::is_method(cls), py::arg("other"), py::pos_only());
  cls.attr("__ne__") = py::cpp_function(
      [](const py::object& self, const py::object& other) {
        return !py::type::handle_of(self).is(py::type::handle_of(other)) ||
               !py::int_(self).equal(py::int_(other));
      },
      py::name("__ne__"), py::is_method(cls), py::arg("other"), py::pos_only());
  return cls;
}

// One data member of a bound class with its Python attribute name. Reads give a new Python
// value, writes store a copy.
template <typename Class, typename Member>
struct Field {
  const char* name;
  Member Class::* member;
};

// A data member of class type whose reads give a view of the owner's own member; the view
// keeps the owner alive. Writes store a copy.
template <typename Class, typename Member>
struct ViewField {
  const char* name;
  Member Class::* member;
};

template <typename Class, typename Member>
constexpr Field<Class, Member> field(const char* name, Member Class::* member) {
  return {name, member};
}

template <typename Class, typename Member>
constexpr ViewField<Class, Member> view_field(const char* name, Member Class::* member) {
  return {name, member};
}

template <typename Class, typename Member>
void add_attribute(py::class_<Class>& cls, const Field<Class, Member>& f) {
  Member Class::* member = f.member;
  cls.def_property(
      f.name, [member](const Class& self) { return self.*member; },
      [member](Class& self, const Member& value) { self.*member = value; });
}

template <typename Class, typename Member>
void add_attribute(py::class_<Class>& cls, const ViewField<Class, Member>& f) {
  cls.def_readwrite(f.name, f.member);
}

// A class with a constructor without arguments and read/write attributes, registered in the
// order given.
template <typename Class, typename... Fields>
py::class_<Class> bind_value_class(py::module_& m, const char* name, const Fields&... fields) {
  py::class_<Class> cls(m, name);
  cls.def(py::init<>());
  (add_attribute(cls, fields), ...);
  return cls;
}

// A class that Python cannot construct, with read-only attributes of built-in types (numbers,
// flags, containers); every read converts the member into a new Python value.
template <typename Class, typename... Members>
py::class_<Class> bind_readonly_class(py::module_& m, const char* name,
                                      Field<Class, Members>... fields) {
  py::class_<Class> cls(m, name);
  (cls.def_readonly(fields.name, fields.member), ...);
  return cls;
}

// A method that hands out a view into the object's own storage; the view keeps the object
// alive. Lists of views (from std::deque&) hold views element by element.
template <typename Class, typename Getter>
void def_view(py::class_<Class>& cls, const char* name, Getter getter) {
  cls.def(name, getter, py::return_value_policy::reference_internal);
}

}  // namespace orvik_bindings
