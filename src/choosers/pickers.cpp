// pick_folder_path, pick_file_path: Qt's standard dialogs, started in the remembered directory.
#include "choosers.hpp"

namespace {

using namespace lark;

const Name s_Path{"Path"}, s_QFileDialog{"QFileDialog"}, s_get_start_dir{"_get_start_dir"},
    s_set_last_dir{"_set_last_dir"};
const Name s_cwd{"cwd"}, s_getExistingDirectory{"getExistingDirectory"}, s_getOpenFileName{"getOpenFileName"},
    s_setText{"setText"}, s_parent{"parent"};

// The text of the remembered directory, or of the working directory when there is none.
Ref start_directory(const Env& env, PyObject* last_dir_obj, PyObject* last_dir_attr) {
    Ref fallback = call_method(env.global(s_Path), s_cwd);
    return str_of(call(env.global(s_get_start_dir), last_dir_obj, last_dir_attr, fallback).get());
}

// The dialog's text, as it is or as a Path.
Ref chosen(const Env& env, const Ref& path, bool return_pathlib) {
    return return_pathlib ? call(env.global(s_Path), path) : path;
}

struct FolderArgs {
    PyObject* parent;
    PyObject* line_edit;
    PyObject* title;
    PyObject* last_dir_obj;
    PyObject* last_dir_attr;
    bool return_pathlib;
};

// pick_folder_path(parent, *, line_edit, title, last_dir_obj, last_dir_attr, return_pathlib)
Ref pick_folder_path(const Env& env, const FolderArgs& a) {
    Ref start_dir = start_directory(env, a.last_dir_obj, a.last_dir_attr);
    Ref path = call_method(env.global(s_QFileDialog), s_getExistingDirectory, a.parent, a.title, start_dir);
    if (!truth(path.get())) return none();

    call(env.global(s_set_last_dir), a.last_dir_obj, a.last_dir_attr, path);
    if (a.line_edit != Py_None) call_method(a.line_edit, s_setText, path);
    return chosen(env, path, a.return_pathlib);
}

struct FileArgs {
    PyObject* parent;
    PyObject* line_edit;
    PyObject* title;
    PyObject* name_filter;
    PyObject* last_dir_obj;
    PyObject* last_dir_attr;
    bool return_pathlib;
};

// pick_file_path(parent, *, line_edit, title, name_filter, last_dir_obj, last_dir_attr, return_pathlib)
Ref pick_file_path(const Env& env, const FileArgs& a) {
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

// Both choosers document the same three effects after their first line.
#define CHOOSER_DOC_EFFECTS                           \
    "    - 如果給了 line_edit，就把文字寫回去\n"            \
    "    - 如果給了 last_dir_obj/attr，就更新最後使用的目錄\n" \
    "    - 回傳字串或 Path（依 return_pathlib）\n    "
const char* const folder_doc = "開資料夾選擇器。選到後：\n" CHOOSER_DOC_EFFECTS;
const char* const file_doc = "開檔案選擇器。選到後：\n" CHOOSER_DOC_EFFECTS;
#undef CHOOSER_DOC_EFFECTS

const Function<FolderArgs> folder_def{
    "pick_folder_path",
    "pick_folder_path",
    folder_doc,
    "str | Path | None",
    {
        any<&FolderArgs::parent>("parent", "QWidget"),
        keyword(any<&FolderArgs::line_edit>("line_edit", "QLineEdit | None"), Default::none()),
        keyword(text<&FolderArgs::title>("title"), Default::text("Select Folder")),
        keyword(any<&FolderArgs::last_dir_obj>("last_dir_obj", "object | None"), Default::none()),
        keyword(text<&FolderArgs::last_dir_attr>("last_dir_attr"), Default::text("_last_dir")),
        keyword(flag<&FolderArgs::return_pathlib>("return_pathlib"), Default::boolean(false)),
    },
    pick_folder_path,
};

const Function<FileArgs> file_def{
    "pick_file_path",
    "pick_file_path",
    file_doc,
    "str | Path | None",
    {
        any<&FileArgs::parent>("parent", "QWidget"),
        keyword(any<&FileArgs::line_edit>("line_edit", "QLineEdit | None"), Default::none()),
        keyword(text<&FileArgs::title>("title"), Default::text("Select File")),
        keyword(text<&FileArgs::name_filter>("name_filter"), Default::text("All Files (*)")),
        keyword(any<&FileArgs::last_dir_obj>("last_dir_obj", "object | None"), Default::none()),
        keyword(text<&FileArgs::last_dir_attr>("last_dir_attr"), Default::text("_last_dir")),
        keyword(flag<&FileArgs::return_pathlib>("return_pathlib"), Default::boolean(false)),
    },
    pick_file_path,
};

}  // namespace

namespace choosers {

const lark::FunctionPlan pick_folder_path = lark::plan_of(folder_def);
const lark::FunctionPlan pick_file_path = lark::plan_of(file_def);

}  // namespace choosers
