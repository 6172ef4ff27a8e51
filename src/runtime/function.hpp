// The library's function type. One declarative table per callable gives the parameters (name,
// kind, annotation, conversion, default) and the struct its body reads them from by name; the
// binder, __defaults__, __kwdefaults__, __annotations__ and the code object that signature
// inspection reads are all derived from that table.
//
// A table, for `f(parent, name: str, width: float = 2.0, *, show: bool = True)`:
//
//     struct FArgs { PyObject* parent; PyObject* name; Real width; bool show; };
//     Ref f(const Env& env, const FArgs& a);
//     const Function<FArgs> f_def{"f", "f", "doc", nullptr, {
//         any<&FArgs::parent>("parent"),
//         text<&FArgs::name>("name"),
//         optional(real<&FArgs::width>("width"), Default::real(2.0)),
//         keyword(flag<&FArgs::show>("show"), Default::boolean(true)),
//     }, f};
//
// Each entry names the member it fills, and the member's type must suit the conversion, so a
// reordered or retyped parameter cannot compile into a wrong read.
#pragma once

#include "ref.hpp"

#include <array>
#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace lark {

// What the call does with an argument before the body runs.
enum class Conv : std::uint8_t {
    none,      // passed through unchanged
    truth,     // reduced to true/false by the truth test
    floating,  // converted to a double by the float conversion
    integer,   // an int unchanged, another number through int(), anything else refused
    exact,     // the argument's type must be exactly the built-in `Exact` type
};

// The built-in types an exact-type parameter can ask for.
enum class Exact : std::uint8_t { none, str, tuple, list, dict };

// A default value, described as a constant. It is built when the function is made, while the
// module body runs; equal tuples and floats of one module share one object, as the constants
// of a compiled Python module do.
struct Default {
    enum class Kind : std::uint8_t { required, none, boolean, integer, real, text, ints, attribute };
    Kind kind = Kind::required;
    bool flag = false;
    long long integer_value = 0;
    double real_value = 0.0;
    const char* text_value = nullptr;  // text, or the global name of an attribute default
    const char* attribute_name = nullptr;
    std::array<long, 4> ints_value{};
    int ints_count = 0;

    static constexpr Default none() { return with(Kind::none); }
    static constexpr Default boolean(bool b) {
        Default d = with(Kind::boolean);
        d.flag = b;
        return d;
    }
    static constexpr Default integer(long long v) {
        Default d = with(Kind::integer);
        d.integer_value = v;
        return d;
    }
    static constexpr Default real(double v) {
        Default d = with(Kind::real);
        d.real_value = v;
        return d;
    }
    static constexpr Default text(const char* s) {
        Default d = with(Kind::text);
        d.text_value = s;
        return d;
    }
    // A tuple of up to four ints.
    static constexpr Default ints(std::initializer_list<long> values) {
        Default d = with(Kind::ints);
        for (long v : values) d.ints_value[static_cast<std::size_t>(d.ints_count++)] = v;
        return d;
    }
    // `global.attribute`, read through the module namespace when the function is made.
    static constexpr Default attribute(const char* global, const char* attribute) {
        Default d = with(Kind::attribute);
        d.text_value = global;
        d.attribute_name = attribute;
        return d;
    }

private:
    static constexpr Default with(Kind k) {
        Default d;
        d.kind = k;
        return d;
    }
};

// One parameter, as the binder sees it.
struct ParamInfo {
    const char* name;
    const char* annotation = nullptr;  // nullptr: no entry in __annotations__
    Conv conv = Conv::none;
    Exact exact = Exact::none;
    bool keyword_only = false;
    Default default_value;  // Kind::required: none; Kind::none also lets None pass the checks
};

// A float argument: the object as given (or the default) and its value as a double.
struct Real {
    PyObject* given;
    double value;
    // float(x): the argument itself when it is a float already, else a new float.
    Ref as_float() const {
        return PyFloat_CheckExact(given) ? Ref::borrow(given) : Ref::steal(PyFloat_FromDouble(value));
    }
};

constexpr int max_params = 10;

// The arguments of one call, bound and converted, by parameter index.
struct Slots {
    PyObject* objects[max_params];
    double numbers[max_params];
    bool truths[max_params];
};

// The struct and the type of a member, from a pointer to it.
template <auto Member>
struct member_of;
template <class A, class T, T A::*Member>
struct member_of<Member> {
    using args = A;
    using type = T;
};
template <auto Member>
using args_of = typename member_of<Member>::args;

// One parameter of a table whose body reads the struct A: what the binder needs, and how the
// bound argument reaches its member.
template <class A>
struct Param {
    ParamInfo info;
    void (*store)(A&, const Slots&, int);
};

template <auto Member>
void store_object(args_of<Member>& a, const Slots& s, int i) {
    a.*Member = s.objects[i];
}
template <auto Member>
void store_real(args_of<Member>& a, const Slots& s, int i) {
    a.*Member = Real{s.objects[i], s.numbers[i]};
}
template <auto Member>
void store_truth(args_of<Member>& a, const Slots& s, int i) {
    a.*Member = s.truths[i];
}

template <auto Member, class T>
constexpr void require_member_type() {
    static_assert(std::is_same_v<typename member_of<Member>::type, T>, "the member's type does not suit the conversion");
}

// Parameter table shorthands, so that a table reads like the signature it describes:
// `text<&Args::name>("name")` fills Args::name with an exact str.
template <auto Member>
constexpr Param<args_of<Member>> any(const char* name, const char* annotation = nullptr) {
    require_member_type<Member, PyObject*>();
    return {ParamInfo{name, annotation}, &store_object<Member>};
}
template <auto Member>
constexpr Param<args_of<Member>> exact(const char* name, const char* annotation, Exact type) {
    require_member_type<Member, PyObject*>();
    return {ParamInfo{name, annotation, Conv::exact, type}, &store_object<Member>};
}
template <auto Member>
constexpr Param<args_of<Member>> text(const char* name, const char* annotation = "str") {
    return exact<Member>(name, annotation, Exact::str);
}
template <auto Member>
constexpr Param<args_of<Member>> integer(const char* name, const char* annotation = "int") {
    require_member_type<Member, PyObject*>();
    return {ParamInfo{name, annotation, Conv::integer}, &store_object<Member>};
}
template <auto Member>
constexpr Param<args_of<Member>> real(const char* name, const char* annotation = "float") {
    require_member_type<Member, Real>();
    return {ParamInfo{name, annotation, Conv::floating}, &store_real<Member>};
}
template <auto Member>
constexpr Param<args_of<Member>> flag(const char* name, const char* annotation = "bool") {
    require_member_type<Member, bool>();
    return {ParamInfo{name, annotation, Conv::truth}, &store_truth<Member>};
}
// A positional-or-keyword parameter with a default.
template <class A>
constexpr Param<A> optional(Param<A> p, Default d) {
    p.info.default_value = d;
    return p;
}
// A keyword-only parameter, with a default or (without one) required.
template <class A>
constexpr Param<A> keyword(Param<A> p, Default d = {}) {
    p.info.keyword_only = true;
    p.info.default_value = d;
    return p;
}

class Env;

template <class A>
struct Function {
    const char* name;
    const char* qualname;
    const char* doc;                // nullptr: __doc__ is None
    const char* return_annotation;  // nullptr: no "return" key
    std::initializer_list<Param<A>> params;
    Ref (*body)(const Env&, const A&);
};

// Fills the body's struct from the slots and runs the body.
template <class A>
Ref invoke_body(const void* table, const Env& env, const Slots& s) {
    const auto& def = *static_cast<const Function<A>*>(table);
    A a{};
    int i = 0;
    for (const Param<A>& p : def.params) p.store(a, s, i++);
    return def.body(env, a);
}

// The untyped description of a table, from which the function object is made.
struct FunctionPlan {
    const char* name;
    const char* qualname;
    const char* doc;
    const char* return_annotation;
    ParamInfo params[max_params];
    int nparams = 0;
    const void* table;
    Ref (*invoke)(const void*, const Env&, const Slots&);
};

template <class A>
FunctionPlan plan_of(const Function<A>& def) {
    FunctionPlan plan{def.name, def.qualname, def.doc, def.return_annotation, {}, 0, &def, &invoke_body<A>};
    for (const Param<A>& p : def.params) {
        if (plan.nparams == max_params) {
            plan.nparams = max_params + 1;  // refused when the function is made
            break;
        }
        plan.params[plan.nparams++] = p.info;
    }
    return plan;
}

}  // namespace lark
