// pick_folder_path, pick_file_path: Qt's standard dialogs, started in the remembered directory.
#include "choosers.hpp"
#include "names.hpp"

namespace choosers {

using namespace lark;

namespace {

const Name s_QFileDialog{"QFileDialog"}, s_get_start_dir{"_get_start_dir"}, s_set_last_dir{"_set_last_dir"};
const Name s_cwd{"cwd"}, s_getExistingDirectory{"getExistingDirectory"}, s_getOpenFileName{"getOpenFileName"};

// The text of the remembered directory, or of the working directory when there is none.
Ref start_directory(const Env& env, PyObject* last_dir_obj, PyObject* last_dir_attr) {
    Ref fallback = call_method(env.global(s_Path), s_cwd);
    return str_of(call(env.global(s_get_start_dir), last_dir_obj, last_dir_attr, fallback).get());
}

// The dialog's text, as it is or as a Path.
Ref chosen(const Env& env, const Ref& path, bool return_pathlib) {
    return return_pathlib ? call(env.global(s_Path), path) : path;
}

}  // namespace

// pick_folder_path(parent, *, line_edit, title, last_dir_obj, last_dir_attr, return_pathlib)
Ref pick_folder_path(const Env& env, const args::pick_folder_path& a) {
    Ref start_dir = start_directory(env, a.last_dir_obj, a.last_dir_attr);
    Ref path = call_method(env.global(s_QFileDialog), s_getExistingDirectory, a.parent, a.title, start_dir);
    if (!truth(path.get())) return none();

    call(env.global(s_set_last_dir), a.last_dir_obj, a.last_dir_attr, path);
    if (a.line_edit != Py_None) call_method(a.line_edit, s_setText, path);
    return chosen(env, path, a.return_pathlib);
}

// pick_file_path(parent, *, line_edit, title, name_filter, last_dir_obj, last_dir_attr, return_pathlib)
Ref pick_file_path(const Env& env, const args::pick_file_path& a) {
    Ref start_dir = start_directory(env, a.last_dir_obj, a.last_dir_attr);
    Ref result =
        call_method(env.global(s_QFileDialog), s_getOpenFileName, a.parent, a.title, start_dir, a.name_filter);
    [[maybe_unused]] auto [path, selected_filter] = unpack_pair(result.get());
    if (!truth(path.get())) return none();

    // The memory keeps the file's folder, not the file.
    Ref folder = getattr(call(env.global(s_Path), path).get(), s_parent);
    call(env.global(s_set_last_dir), a.last_dir_obj, a.last_dir_attr, folder);
    if (a.line_edit != Py_None) call_method(a.line_edit, s_setText, path);
    return chosen(env, path, a.return_pathlib);
}

}  // namespace choosers
