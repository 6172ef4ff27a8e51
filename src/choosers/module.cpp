// larkui.choosers: the module body, binding its names in the documented order.
#include "choosers.hpp"

namespace {

using namespace lark;

const Name s_add_note{"add_note"};

// fernkit is the maker's library and not on PyPI: a failed import says what to install.
void import_filedesk(Module& m) {
    try {
        m.from_import("fernkit", {"filedesk"});
    } catch (const PyErrOccurred&) {
        if (!PyErr_ExceptionMatches(PyExc_ImportError)) throw;
        Ref exc = take_error();
        Ref note = Ref::steal(PyUnicode_FromString(
            "larkui.choosers needs fernkit.filedesk, which is not on PyPI: install the stand-in that comes with "
            "larkui's sources, with `pip install ./fernkit` in a source checkout (or `pip install` its wheel)"));
        Ref::steal_nullable(PyObject_CallMethodOneArg(exc.get(), s_add_note.get(), note.get()));
        PyErr_Clear();
        restore_error(std::move(exc));
        throw;
    }
}

void module_body(Module& m) {
    m.from_import("pathlib", {"Path"});
    m.from_import("typing", {"Tuple", "List"});
    m.from_import("PySide6.QtWidgets", {"QFileDialog", "QWidget", "QLineEdit", "QMessageBox"});
    import_filedesk(m);

    m.define(choosers::get_start_dir);
    m.define(choosers::set_last_dir);
    m.define(choosers::pick_folder_path);
    m.define(choosers::pick_file_path);
    m.define(choosers::collect_files_from_lineEdit);
}

const ModuleInfo info{"choosers", module_body};

}  // namespace

PyMODINIT_FUNC PyInit_choosers() { return init_module(info); }
