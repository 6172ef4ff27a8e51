// larkui.choosers: the module body, binding its names in the documented order.
#include "choosers.hpp"

namespace {

using namespace lark;

const Name s_select_folder{"Select Folder"}, s_select_file{"Select File"}, s_all_files{"All Files (*)"},
    s_last_dir{"_last_dir"};

void module_body() {
    from_import("pathlib", {"Path"});
    from_import("typing", {"Tuple", "List"});
    from_import("PySide6.QtWidgets", {"QFileDialog", "QWidget", "QLineEdit", "QMessageBox"});
    from_import("fernkit", {"filedesk"});

    bind("_get_start_dir", make_function(choosers::get_start_dir));
    bind("_set_last_dir", make_function(choosers::set_last_dir));
    // Keyword-only defaults, in parameter order: line_edit, title, [name_filter,] last_dir_obj,
    // last_dir_attr, return_pathlib.
    bind("pick_folder_path", make_function(choosers::pick_folder_path, {Py_None, s_select_folder.get(), Py_None,
                                                                        s_last_dir.get(), Py_False}));
    bind("pick_file_path", make_function(choosers::pick_file_path, {Py_None, s_select_file.get(), s_all_files.get(),
                                                                    Py_None, s_last_dir.get(), Py_False}));
    bind("collect_files_from_lineEdit", make_function(choosers::collect_files_from_lineEdit, {Py_False}));
}

const ModuleInfo info{"choosers", module_body};

}  // namespace

PyMODINIT_FUNC PyInit_choosers() { return init_module(info); }
