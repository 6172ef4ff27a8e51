// pick_folder_path, pick_file_path: Qt's standard dialogs, started in the remembered directory.
#include "choosers.hpp"

namespace {

using namespace lark;

const Name s_Path{"Path"}, s_QFileDialog{"QFileDialog"}, s_get_start_dir{"_get_start_dir"},
    s_set_last_dir{"_set_last_dir"};
const Name s_cwd{"cwd"}, s_getExistingDirectory{"getExistingDirectory"}, s_getOpenFileName{"getOpenFileName"},
    s_setText{"setText"}, s_parent{"parent"};

// The text of the remembered directory, or of the working directory when there is none.
Ref start_directory(PyObject* last_dir_obj, PyObject* last_dir_attr) {
    Ref fallback = call_method(global(s_Path), s_cwd);
    return str_of(call(global(s_get_start_dir), last_dir_obj, last_dir_attr, fallback).get());
}

// The dialog's text, as it is or as a Path.
Ref chosen(const Ref& path, bool return_pathlib) {
    return return_pathlib ? call(global(s_Path), path) : path;
}

// pick_folder_path(parent, *, line_edit, title, last_dir_obj, last_dir_attr, return_pathlib)
Ref pick_folder_path(const Args& a) {
    PyObject* parent = a[0];
    PyObject* line_edit = a[1];
    PyObject* title = a[2];
    PyObject* last_dir_obj = a[3];
    PyObject* last_dir_attr = a[4];
    const bool return_pathlib = a.flag(5);

    Ref start_dir = start_directory(last_dir_obj, last_dir_attr);
    Ref path = call_method(global(s_QFileDialog), s_getExistingDirectory, parent, title, start_dir);
    if (!truth(path.get())) return {};

    call(global(s_set_last_dir), last_dir_obj, last_dir_attr, path);
    if (line_edit != Py_None) call_method(line_edit, s_setText, path);
    return chosen(path, return_pathlib);
}

// pick_file_path(parent, *, line_edit, title, name_filter, last_dir_obj, last_dir_attr, return_pathlib)
Ref pick_file_path(const Args& a) {
    PyObject* parent = a[0];
    PyObject* line_edit = a[1];
    PyObject* title = a[2];
    PyObject* name_filter = a[3];
    PyObject* last_dir_obj = a[4];
    PyObject* last_dir_attr = a[5];
    const bool return_pathlib = a.flag(6);

    Ref start_dir = start_directory(last_dir_obj, last_dir_attr);
    Ref result = call_method(global(s_QFileDialog), s_getOpenFileName, parent, title, start_dir, name_filter);
    [[maybe_unused]] auto [path, selected_filter] = unpack_pair(result.get());
    if (!truth(path.get())) return {};

    // The memory keeps the file's folder, not the file.
    Ref folder = getattr(call(global(s_Path), path).get(), s_parent);
    call(global(s_set_last_dir), last_dir_obj, last_dir_attr, folder);
    if (line_edit != Py_None) call_method(line_edit, s_setText, path);
    return chosen(path, return_pathlib);
}

// Both choosers document the same three effects after their first line.
#define CHOOSER_DOC_EFFECTS                           \
    "    - 如果給了 line_edit，就把文字寫回去\n"            \
    "    - 如果給了 last_dir_obj/attr，就更新最後使用的目錄\n" \
    "    - 回傳字串或 Path（依 return_pathlib）\n    "
const char* const folder_doc = "開資料夾選擇器。選到後：\n" CHOOSER_DOC_EFFECTS;
const char* const file_doc = "開檔案選擇器。選到後：\n" CHOOSER_DOC_EFFECTS;
#undef CHOOSER_DOC_EFFECTS

}  // namespace

namespace choosers {

const lark::FunctionSpec pick_folder_path{
    "pick_folder_path",
    "pick_folder_path",
    folder_doc,
    "str | Path | None",
    {
        lark::any("parent", "QWidget"),
        lark::keyword(lark::any("line_edit", "QLineEdit | None")),
        lark::keyword(lark::text("title")),
        lark::keyword(lark::any("last_dir_obj", "object | None")),
        lark::keyword(lark::text("last_dir_attr")),
        lark::keyword(lark::flag("return_pathlib")),
    },
    ::pick_folder_path,
};

const lark::FunctionSpec pick_file_path{
    "pick_file_path",
    "pick_file_path",
    file_doc,
    "str | Path | None",
    {
        lark::any("parent", "QWidget"),
        lark::keyword(lark::any("line_edit", "QLineEdit | None")),
        lark::keyword(lark::text("title")),
        lark::keyword(lark::text("name_filter")),
        lark::keyword(lark::any("last_dir_obj", "object | None")),
        lark::keyword(lark::text("last_dir_attr")),
        lark::keyword(lark::flag("return_pathlib")),
    },
    ::pick_file_path,
};

}  // namespace choosers
