// collect_files_from_lineEdit: the files under the path typed into a line edit, and their output folder.
#include "choosers.hpp"

#include "compat.hpp"
#include "names.hpp"

namespace choosers {

using namespace lark;

namespace {

const Name s_QMessageBox{"QMessageBox"}, s_filedesk{"filedesk"};
const Name s_strip{"strip"}, s_is_dir{"is_dir"}, s_is_file{"is_file"}, s_warning{"warning"}, s_critical{"critical"},
    s_find_files_with_extensions{"find_files_with_extensions"}, s_generate_output_path{"generate_output_path"},
    s_sort_datecode{"sort_datecode"};
const Name s_blank{""}, s_no_path_title{"No path"}, s_no_path_text{"Please choose a file or a folder first."},
    s_invalid_title{"Invalid path"}, s_not_found_head{"Path not found:\n"}, s_io_error_title{"I/O error"};

// Marks `exc` as the exception being handled, as an except clause does, so that an error
// raised while reporting it is chained to it.
class Handling {
    Ref previous_;

public:
    explicit Handling(PyObject* exc) noexcept : previous_(Ref::steal_nullable(PyErr_GetHandledException())) {
        PyErr_SetHandledException(exc);
    }
    ~Handling() { PyErr_SetHandledException(previous_.get()); }
    Handling(const Handling&) = delete;
    Handling& operator=(const Handling&) = delete;
};

// The guarded part: the matching files and the output folder, or an empty Ref for None.
Ref collect(const Env& env, PyObject* parent, const Ref& p, const Ref& raw, PyObject* filters, PyObject* out_dir_name,
            bool sort_datecode) {
    // A folder is tested first, so a folder is never taken for a file.
    const bool is_folder = truth(call_method(p, s_is_dir).get());
    if (!is_folder && !truth(call_method(p, s_is_file).get())) {
        Ref raw_text = Ref::steal(PyObject_Format(raw.get(), s_blank.get()));
        Ref message = Ref::steal(PyUnicode_Concat(s_not_found_head.get(), raw_text.get()));
        call_method(env.global(s_QMessageBox), s_warning, parent, s_invalid_title, message);
        return none();
    }

    Ref find = getattr(env.global(s_filedesk).get(), s_find_files_with_extensions);
    Ref found = call_with_keywords(find, {str_of(p.get()), filters}, {{s_sort_datecode, sort_datecode}});
    auto [file_paths, base_names] = unpack_pair(found.get());
    if (!truth(file_paths.get())) return none();

    // Path(filedesk.generate_output_path(str(folder), out_dir_name)); a single file's results
    // go next to it, in its folder.
    Ref path_class = env.global(s_Path);
    Ref generate = getattr(env.global(s_filedesk).get(), s_generate_output_path);
    Ref folder_text = str_of(is_folder ? p.get() : getattr(p.get(), s_parent).get());
    Ref out_dir = call(path_class, call(generate, folder_text, out_dir_name));
    return Ref::steal(PyTuple_Pack(3, file_paths.get(), base_names.get(), out_dir.get()));
}

// Shows the pending Exception-family error in the "I/O error" box and clears it.
void report_io_error(const Env& env, PyObject* parent) {
    Ref exc = take_error();
    Handling handling(exc.get());
    Ref message = str_of(exc.get());
    call_method(env.global(s_QMessageBox), s_critical, parent, s_io_error_title, message);
}

}  // namespace

// collect_files_from_lineEdit(parent, line_edit, out_dir_name, name_filter, sort_datecode)
Ref collect_files_from_lineEdit(const Env& env, const args::collect_files_from_lineEdit& a) {
    Ref text = call_method(a.line_edit, s_text);
    if (!truth(text.get())) text = Ref::borrow(s_blank.get());
    Ref raw = call_method(text, s_strip);
    if (!truth(raw.get())) {
        call_method(env.global(s_QMessageBox), s_warning, a.parent, s_no_path_title, s_no_path_text);
        return none();
    }

    // An empty filter list selects every file; the caller's list is left as it is.
    Ref filters = Ref::borrow(a.name_filter);
    if (!PyList_GET_SIZE(a.name_filter)) {
        filters = Ref::steal(PyList_New(0));
        check(PyList_Append(filters.get(), s_blank.get()));
    }

    Ref p = call(env.global(s_Path), raw);
    Ref result;
    if (!choosers::guarded(
            [&] { result = collect(env, a.parent, p, raw, filters.get(), a.out_dir_name, a.sort_datecode); })) {
        report_io_error(env, a.parent);
        return none();
    }
    return result;
}

}  // namespace choosers
